#pragma once

#include <string>

// Text as a terminal, a log or a pipe may take it safely: every character a
// terminal would act on rather than show (the C0 and C1 controls, DEL, a line
// break among them), every byte that starts no valid UTF-8 character and
// every lone surrogate is written as \xHH, byte by byte; the rest is kept.
// A name can then neither forge a line of its own nor send an escape
// sequence.
std::string Escaped(const std::string& text);
