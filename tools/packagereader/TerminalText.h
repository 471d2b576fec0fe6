// Package texts on their way to a terminal: a package is hostile input, and an escape sequence in its
// incident text could repaint the verdict, a NUL cut a message short. Every byte that is a control
// character (C0, DEL, the C1 range and bytes that are not UTF-8, which some terminals take as C1) is
// written as "\xNN"; printable UTF-8 passes unchanged.
#pragma once

#include <string>
#include <string_view>

class CTerminalText {
public:
    static std::string Escape(std::string_view text);
};
