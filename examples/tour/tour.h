// The tour's steps, one per capability of the library; main() runs them in order.
#pragma once

#include <string>
#include <vector>

namespace tour {

void Heading(const char* title);
void Print(const wchar_t* text);  // UTF-16 text to standard output as UTF-8

void Foundation(const std::vector<std::string>& args);
void Buffers(const std::vector<std::string>& args);
void Digests(const std::vector<std::string>& args);
void MessageLoop(const std::vector<std::string>& args);
void Threads(const std::vector<std::string>& args);
void Markup(const std::vector<std::string>& args);
void Conversions(const std::vector<std::string>& args);
void ClientVersions(const std::vector<std::string>& args);

}  // namespace tour
