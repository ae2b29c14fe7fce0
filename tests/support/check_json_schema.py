#!/usr/bin/env python3
"""Validates JSON files against a JSON Schema (draft 2020-12) with python3-jsonschema.

usage: check_json_schema.py SCHEMA FILE...
Exit status 0 when every file is valid; 1 with each violation on standard error otherwise;
2 when the schema itself is not a valid schema or a file is not JSON.
"""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as source:
        schema = json.load(source)
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.exceptions.SchemaError as error:
        print(f"{argv[1]}: not a valid schema: {error.message}", file=sys.stderr)
        return 2
    validator = validator_class(schema)
    invalid = False
    for path in argv[2:]:
        try:
            with open(path, encoding="utf-8") as source:
                document = json.load(source)
        except (OSError, ValueError) as error:
            print(f"{path}: not JSON: {error}", file=sys.stderr)
            return 2
        for error in sorted(validator.iter_errors(document), key=lambda e: list(e.path)):
            where = "/".join(str(part) for part in error.absolute_path)
            print(f"{path}: /{where}: {error.message}", file=sys.stderr)
            invalid = True
    return 1 if invalid else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
