#!/usr/bin/env bash
# Ctrl-D deletes the character at the cursor, does nothing at the end of a line, and on an empty
# line ends the console as quit does: status 0, the settings file written.
source "$(dirname "$0")/../tmux-lib"
start
type_text '5 * 6'
key Home C-d
wait_line '>>  * 6'
key End C-d
type_text '7'
wait_line '>>  * 67'
key Home; type_text '8'; key Enter
wait_for '== 536'
wait_line '>>'
key C-d
wait_for '[exit 0]'
check_settings 'history: ["8 * 67"]'
check_screen
