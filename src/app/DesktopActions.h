// The completion actions on a Linux desktop: the file manager through xdg-open, the
// power-off through logind on the system bus.
#pragma once

#include "appcore/ConversionQueue.h"

namespace tovi {

class TDesktopActions final : public ICompletionActions {
public:
  // GUI thread.
  void OpenOutputFolder(const std::string &folder) override;
  // Asks logind to power the machine off without asking the user again (as a forced
  // shut-down does); a refusal is shown in a message box.
  void ShutDown() override;
};

} // namespace tovi
