// Resetting the task records to their unset values.
#include "converter/TaskOptions.h"

namespace tovi {

void InitInputOptions(TInputOptions &options) { options = TInputOptions{}; }

void InitOutputOptions(TOutputOptions &options) { options = TOutputOptions{}; }

} // namespace tovi
