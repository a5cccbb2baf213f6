#!/bin/sh
# make_tree_fixture.sh DIR
# The folders the PC folder tree is checked over, made by the Linux shell: nesting, names that differ
# only by case from what a path may say, names the shell sorts otherwise than the folder lists them
# ("co-op" after "coop", "x_y" before "xa"), a dot-named folder (hidden for Wine), a folder with the hidden
# attribute (Wine reads it from the user.DOSATTRIB extended attribute), a link to a folder, a link inside
# Gamma back to the fixture's root (a loop: Gamma/up/Gamma/up/...), a link to a file, a dangling link and
# plain files, which are never shown.
set -eu
d=$1
mkdir -p "$d"
cd "$d"
mkdir -p Alpha beta "co-op" coop "x_y" xa "Gamma/inner/deep" ".dotted/under" "Hidden Folder" "with space" mixedCase Zulu
echo data > file.txt
echo data > "Gamma/inner/notes.txt"
ln -s file.txt "file link"
ln -s nowhere "dangling link"
ln -s .. "Gamma/up"
ln -s Zulu "Zulu link"
python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.DOSATTRIB", b"0x12")' "Hidden Folder"
