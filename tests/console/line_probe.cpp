// A small program for the pseudo-terminal tests of the line editor: it sets the title, then
// reads the number of lines given as its argument (2 by default) with the prompt ">> " and
// prints each with its outcome, and whether the terminal's modes were left as before the read.
// With a second argument "exit-on-tab", Tab makes the completion hook end the process (status 3)
// in the middle of an edit; with "quit-on-tab" the hook ends it the way quit-return does
// (status 4, through the runtime's exit, which skips the C runtime's exit handlers).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/terminal.hpp"
#include "core/runtime.hpp"
#include "core/unicode.hpp"

namespace {

bool same_modes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

std::string utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        uint8_t buf[4];
        out.append(reinterpret_cast<const char*>(buf), size_t(kov::unicode::encode_utf8(c, buf)));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kov;
    int count = argc > 1 ? std::atoi(argv[1]) : 2;
    terminal::init();
    terminal::set_title("Kov \x07Probe");
    std::vector<std::u32string> history;
    line_editor::Completer complete;
    if (argc > 2 && std::strcmp(argv[2], "exit-on-tab") == 0)
        complete = [](const std::u32string&, size_t) -> std::optional<line_editor::Completion> {
            std::exit(3);
        };
    if (argc > 2 && std::strcmp(argv[2], "quit-on-tab") == 0)
        complete = [](const std::u32string&, size_t) -> std::optional<line_editor::Completion> {
            runtime::exit_process(4);
        };
    for (int i = 0; i < count; ++i) {
        termios before{}, after{};
        ::tcgetattr(0, &before);
        terminal::ReadResult r = terminal::read_line(U">> ", &history, false, complete);
        ::tcgetattr(0, &after);
        std::printf("[%s] %d:%s|\n", same_modes(before, after) ? "restored" : "CHANGED",
                    int(r.outcome), utf8(r.line).c_str());
        std::fflush(stdout);
    }
    std::printf("history %zu\n", history.size());
    return 0;
}
