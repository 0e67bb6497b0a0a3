#!/usr/bin/env bash
# Esc cancels the line being edited, and the lines gathered behind a cue; nothing is evaluated.
source "$(dirname "$0")/../tmux-lib"
start
type_text '1 + 1'
wait_line '>> 1 + 1'
key Escape
wait_line '>>'
type_text '[1'; key Enter
wait_line '['
type_text '2'
key Escape
wait_line '>>'
type_text '3 + 4'; key Enter
wait_for '== 7'
wait_line '>>'
check_screen
