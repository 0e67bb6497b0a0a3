#!/usr/bin/env bash
# Editing in the middle of a line: cursor keys, Home and End, insertion, Backspace and Delete.
source "$(dirname "$0")/../tmux-lib"
start
type_text '12 + 3'
key Left Left Left Left
type_text '0'
wait_line '>> 120 + 3'
key Home; key Delete
wait_line '>> 20 + 3'
key End; key BSpace
type_text '7'
wait_line '>> 20 + 7'
key Left Left Left; type_text '*'; key Delete
wait_line '>> 20 * 7'
key Enter
wait_for '== 140'
wait_line '>>'
check_screen
