#!/usr/bin/env bash
# The banner and the first prompt.
source "$(dirname "$0")/../tmux-lib"
start
check_screen
