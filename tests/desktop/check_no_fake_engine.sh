#!/bin/bash
# The shipped program holds none of the tests' fake engine.
# Usage: check_no_fake_engine.sh PROGRAM
set -euo pipefail
symbols=$(nm -C "$1")
# A symbol table that lacks the real engine is no evidence: fail.
grep -q 'vurma::media::MediaSession::' <<<"$symbols" || { echo "no symbols in $1"; exit 1; }
if grep 'vurma::media::Fake' <<<"$symbols"; then
  echo "$1 contains fake-engine symbols (above)"
  exit 1
fi
