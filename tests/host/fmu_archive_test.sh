#!/usr/bin/env bash
# Quenzel.fmu as a user receives it.
#   fmu_archive_test.sh contents FMU SHARED_LIBRARY
#     the archive holds exactly the model description and the unit for linux64, and the packed
#     unit is the one built;
#   fmu_archive_test.sh schema FMU SCHEMA
#     the packed model description is valid against the FMI 2.0 schema. Without the schema file
#     the check is skipped (exit status 77) and says why.
set -euo pipefail
check=$1 fmu=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $check in
  contents)
    library=$3
    entries=$(unzip -Z1 "$fmu" | grep -v '/$' | sort)
    expected=$'binaries/linux64/Quenzel.so\nmodelDescription.xml'
    [[ $entries == "$expected" ]] || fail "archive holds:"$'\n'"$entries"
    unzip -qq "$fmu" -d "$work"
    cmp -s "$work/binaries/linux64/Quenzel.so" "$library" || fail "the packed Quenzel.so is not the built one"
    ;;
  schema)
    schema=$3
    if [[ ! -f $schema ]]; then
      echo "SKIPPED: the FMI 2.0 schema is missing: $schema" \
           "(set the CMake cache variable QUENZEL_FMI2_SCHEMA to a copy of fmi2ModelDescription.xsd)"
      exit 77
    fi
    unzip -qq "$fmu" modelDescription.xml -d "$work"
    xmllint --noout --schema "$schema" "$work/modelDescription.xml" || fail "modelDescription.xml is not valid"
    ;;
  *) fail "unknown check $check" ;;
esac
echo "1 passed, 0 failed"
