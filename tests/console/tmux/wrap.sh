#!/usr/bin/env bash
# A line longer than the 40 columns wraps onto the next row; an insertion on its first row
# redraws the rest; the result is cut to the width.
source "$(dirname "$0")/../tmux-lib"
start
type_text 'append "abcdefghijklmnopqrstuvwxyz" "0123456789ABCDEFGHIJ"'
wait_for 'GHIJ"'
key Home; key Right Right Right Right Right Right
type_text '/dup'
wait_for 'IJ"'
key End
type_text ' 2'
key Enter
wait_for '=='
wait_line '>>'
check_screen
