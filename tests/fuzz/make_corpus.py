#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs: UTF-16LE files, one command line or one
working folder each, from the cases the unit tests pin down.

Run it from anywhere; it rewrites corpus/command_line/ and corpus/split/
beside itself.
"""
import pathlib
import shutil

PROGRAM = '"C:\\G\\mods\\mymod\\ModLauncher.exe"'

# What follows the program's own name on the command line.
COMMAND_LINES = {
    "nothing": "",
    "blanks_only": "   ",
    "two_args": " +x 1",
    "runs_of_blanks": "   +x   1  ",
    "tab": " +x\t1",
    "quoted_words": ' "two words" c',
    "quotes_inside": ' a"b c"d e',
    "empty_pair": ' "" b',
    "pairs_between": ' a "" "" b',
    "pair_inside": ' "a""b"',
    "unclosed": ' a "b c',
    "lone_quote": ' a "',
    "quote_then_space": ' a " ',
    "backslash_quote": ' a\\"b c\\" d',
    "controls_and_nbsp": "\r\n-a\x01-b x\u00a0y \u00e9t\u00e9",
}

# Whole command lines, for how the program's own name is read.
WHOLE_LINES = {
    "name_with_space": "C:\\Games Dir\\mods\\m\\launcher.exe x",
    "quoted_name_with_space": '"C:\\Games Dir\\mods\\m\\launcher.exe" x',
    "zero_ends_line": PROGRAM + " a\x00 b",
}

FOLDERS = {
    "plain": "C:\\Games\\Game\\mods\\mymod",
    "space_in_name": "D:\\Game\\mods\\my mod",
    "three_words": "D:\\Game\\mods\\x y z",
    "two_spaces": "D:\\Game\\mods\\a  b",
    "space_above": "C:\\Program Files\\Game\\mods\\mymod",
    "dot": "C:\\Game\\mods\\my.mod",
    "drive_root": "C:\\",
    "network": "\\\\host\\share\\mods\\x",
    "nbsp": "C:\\Game\\mods\\x\u00a0y",
    "non_ascii": "C:\\Spiele\\G\u00e4me\\mods\\m\u00f6d",
    # Longer than the first read's 260 units: read again with more room.
    "long": "C:\\" + "\\".join(["deep" + str(i) for i in range(60)]),
}


def write(folder, cases):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, text in cases.items():
        (folder / name).write_bytes(text.encode("utf-16-le"))


def main():
    corpus = pathlib.Path(__file__).resolve().parent / "corpus"
    lines = {name: PROGRAM + rest for name, rest in COMMAND_LINES.items()}
    lines.update(WHOLE_LINES)
    write(corpus / "command_line", lines)
    write(corpus / "split", FOLDERS)


if __name__ == "__main__":
    main()
