#!/usr/bin/env bash
# An open block gathers lines behind the cue "[" and an open multi-line string behind "{" until
# they close; the whole input is then evaluated.
source "$(dirname "$0")/../tmux-lib"
start
type_text '[1'; key Enter
wait_line '['
type_text '2 {a'; key Enter
wait_line '{'
type_text 'b}]'; key Enter
wait_for '== [1'
wait_line '>>'
type_text '#[a: 1'; key Enter
wait_line '['
type_text 'b: 2]'; key Enter
wait_for '== #['
wait_line '>>'
check_screen
