#!/usr/bin/env bash
# A wide character that does not fit in the last column of a row goes whole to the next row.
source "$(dirname "$0")/../tmux-lib"
start
type_text '"abcdefghijklmnopqrstuvwxyz012345678'
wait_for '5678'
type_text '中文"'
wait_for '文"'
key Enter
wait_for '=='
wait_line '>>'
check_screen
