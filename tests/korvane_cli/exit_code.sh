#!/usr/bin/env bash
# Runs a command and then prints its exit code, so that a test that matches
# the output checks the code as well.
"$@"
echo "exit code: $?"
