#!/usr/bin/env bash
# Ctrl-C ends the console as quit does: status 0, the settings file written with the history.
source "$(dirname "$0")/../tmux-lib"
start
type_text '1 + 2'; key Enter
wait_for '== 3'
wait_line '>>'
type_text 'abc'
key C-c
wait_for '[exit 0]'
check_settings 'history: ["1 + 2"]'
check_screen
