#!/usr/bin/env bash
# Up walks back through the lines entered (past the oldest: an empty line), Down forward again
# (past the newest: an empty line); the line shown can be edited and entered.
source "$(dirname "$0")/../tmux-lib"
start
type_text '1 + 1'; key Enter
wait_for '== 2'
wait_line '>>'
type_text '2 + 2'; key Enter
wait_for '== 4'
wait_line '>>'
key Up; wait_line '>> 2 + 2'
key Up; wait_line '>> 1 + 1'
key Up; wait_line '>>'
key Down; wait_line '>> 1 + 1'
key Down; wait_line '>> 2 + 2'
key Down; wait_line '>>'
key Up; wait_line '>> 2 + 2'
type_text '0'; key Enter
wait_for '== 22'
wait_line '>>'
check_screen
