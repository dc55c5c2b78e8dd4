#!/usr/bin/env bash
# Quenzel.fmu holds exactly the model description and the unit for linux64, the packed unit is
# the one built, and the packed model description is valid against the FMI 2.0 schema.
# usage: fmu_archive_test.sh FMU SHARED_LIBRARY SCHEMA
set -euo pipefail
fmu=$1 library=$2 schema=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

[[ -f $schema ]] || fail "the FMI 2.0 schema is missing: $schema"
entries=$(unzip -Z1 "$fmu" | grep -v '/$' | sort)
expected=$'binaries/linux64/Quenzel.so\nmodelDescription.xml'
[[ $entries == "$expected" ]] || fail "archive holds:"$'\n'"$entries"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -qq "$fmu" -d "$work"
cmp -s "$work/binaries/linux64/Quenzel.so" "$library" || fail "the packed Quenzel.so is not the built one"
xmllint --noout --schema "$schema" "$work/modelDescription.xml" || fail "modelDescription.xml is not valid"
echo "1 passed, 0 failed"
