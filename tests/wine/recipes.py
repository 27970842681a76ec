#!/usr/bin/python3
"""recipes.py README: the README's cmd recipes, copied out of it as they stand
and run by Wine's cmd.exe, each in its own copy of the template prefix, once
with the request accepted and once refused. The program is copied to the
path that the recipe names, so that the recipe's own quoting is what runs.

Each recipe runs inside an outer batch that prints a line of its own after
it: that line must appear, so that a recipe cut short passes nothing, and the
recipe's message must appear exactly when the request was refused.
"""
import os
import pathlib
import re
import shutil
import sys
import unittest

import winelab

EXE = pathlib.Path(os.environ["SESSIONEND_EXE"])
TEMPLATE = pathlib.Path(os.environ["SESSIONEND_WINE_TEMPLATE"])
README = pathlib.Path(sys.argv.pop(1))
DONE = "outer batch done"
# Without wineboot, Wine cannot carry out a request and refuses it.
REFUSE = "mscoree,mshtml=;wineboot.exe=d"


def recipes():
    """The cmd blocks that run the program, without the scheduler's."""
    blocks = re.findall(r"```bat\n(.*?)```", README.read_text(), re.DOTALL)
    return [block for block in blocks if "sessionend.exe" in block and "schtasks" not in block]


class Recipes(unittest.TestCase):
    def run_recipe(self, recipe, refused):
        with winelab.throwaway_prefix(TEMPLATE) as prefix:
            work = prefix.path / "drive_c" / "recipe"
            work.mkdir()
            named = re.search(r'"C:\\([^"]*sessionend\.exe)"', recipe)
            target = prefix.path / "drive_c" / pathlib.PureWindowsPath(named.group(1)) if named else work / EXE.name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(EXE, target)
            (work / "recipe.cmd").write_bytes(recipe.replace("\n", "\r\n").encode())
            (work / "outer.cmd").write_bytes(f"@echo off\r\ncd /d C:\\recipe\r\ncall recipe.cmd\r\necho {DONE}\r\n"
                                             .encode())
            env = {"WINEDLLOVERRIDES": REFUSE} if refused else {}
            return prefix.run(["cmd", "/c", "C:\\recipe\\outer.cmd"], output=True, **env).stdout

    def test_each_recipe_reports_exactly_a_refusal(self):
        found = recipes()
        self.assertEqual(len(found), 2, "the README's status and log-off recipes")
        for recipe in found:
            message = re.search(r"if errorlevel \d+ echo (.*)", recipe).group(1).strip()
            for refused in (False, True):
                with self.subTest(recipe=recipe.splitlines()[-2], refused=refused):
                    out = self.run_recipe(recipe, refused)
                    self.assertIn(DONE, out)
                    self.assertEqual(message in out, refused, out)


if __name__ == "__main__":
    unittest.main()
