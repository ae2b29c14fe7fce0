#!/usr/bin/env python3
"""Parses a Prometheus text-format file with python3-prometheus-client's parser.

usage: parse_prometheus.py FILE
Prints one JSON object: {"samples": [[name, {labels}, value], ...], "types": {family: type}}.
Exit status 1 (with the parser's complaint on standard error) when the file does not parse.
"""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as source:
        text = source.read()
    samples, types = [], {}
    try:
        for family in text_string_to_metric_families(text):
            types[family.name] = family.type
            for sample in family.samples:
                samples.append([sample.name, sample.labels, sample.value])
    except ValueError as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 1
    print(json.dumps({"samples": samples, "types": types}))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
