#pragma once
namespace tovi {
void RegisterUnicodeProtocol();
}
