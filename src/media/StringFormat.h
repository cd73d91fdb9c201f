// printf-style formatting into a std::string, for the system's fixed message texts
// ("Load function %s@%s error: %s", "Stream #%d", …).
#pragma once

#include <cstdarg>
#include <string>

namespace tovi {

std::string StringFormat(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string StringFormatV(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace tovi
