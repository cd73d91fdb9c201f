#include "media/UnicodeProtocol.h"
namespace tovi {
void RegisterUnicodeProtocol() {}
}
