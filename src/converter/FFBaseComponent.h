// Common root of the components the application creates (probe, converter, player):
// they are created and destroyed through base pointers.
#pragma once

namespace tovi {

class TFFBaseComponent {
public:
  TFFBaseComponent() = default;
  virtual ~TFFBaseComponent() = default;
};

} // namespace tovi
