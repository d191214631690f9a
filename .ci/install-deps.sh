#!/bin/sh
# Moved to install-deps.sh at the top of the tree; kept for callers of the
# old path.
exec sh "$(dirname "$0")/../install-deps.sh" "$@"
