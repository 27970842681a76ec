#!/usr/bin/python3
"""recipes.py README: the README's cmd recipes, copied out of it as they stand
and run by Wine's cmd.exe, each in its own copy of the template prefix, once
with the request accepted and once refused. The program is copied to the
path that the recipe names, so that the recipe's own quoting is what runs.
The msiexec recipes run on the package, under the name they give it, and
must show Windows Installer's status: 0, and a refused downgrade's. The
scheduler's recipe registers the README's task XML with Wine's schtasks.

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
from xml.etree import ElementTree

import winelab
from install import FATAL, SUCCESS, msiexec, package

EXE = pathlib.Path(os.environ["SESSIONEND_EXE"])
TEMPLATE = pathlib.Path(os.environ["SESSIONEND_WINE_TEMPLATE"])
README = pathlib.Path(sys.argv.pop(1))
DONE = "outer batch done"
# Without wineboot, Wine cannot carry out a request and refuses it.
REFUSE = "mscoree,mshtml=;wineboot.exe=d"


def blocks(language):
    return re.findall(rf"```{language}\n(.*?)```", README.read_text(), re.DOTALL)


def recipes(word):
    """The cmd blocks that name word, without the scheduler's."""
    return [block for block in blocks("bat") if word in block and "schtasks" not in block]


def run_in(prefix, recipe, **env):
    work = prefix.path / "drive_c" / "recipe"
    work.mkdir(exist_ok=True)
    (work / "recipe.cmd").write_bytes(recipe.replace("\n", "\r\n").encode())
    (work / "outer.cmd").write_bytes(f"@echo off\r\ncd /d C:\\recipe\r\ncall recipe.cmd\r\necho {DONE}\r\n".encode())
    run = prefix.run(["cmd", "/c", "C:\\recipe\\outer.cmd"], debug="fixme-all", output=True, **env)
    if DONE not in run.stdout:
        raise AssertionError(f"cut short, status {run.returncode}:\n{run.stdout}\n{winelab.trace_summary(run.stderr)}")
    return run.stdout


class Recipes(unittest.TestCase):
    def run_recipe(self, recipe, refused):
        with winelab.throwaway_prefix(TEMPLATE) as prefix:
            named = re.search(r'"C:\\([^"]*sessionend\.exe)"', recipe)
            where = pathlib.PureWindowsPath(named.group(1) if named else r"recipe\sessionend.exe")
            target = prefix.path / "drive_c" / where
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(EXE, target)
            return run_in(prefix, recipe, **({"WINEDLLOVERRIDES": REFUSE} if refused else {}))

    def test_msiexec_recipes_show_the_status(self):
        install, remove = recipes("msiexec")
        older, newer = package("x64", EXE)[0], package("x64", EXE, "1.0.1")[0]
        with winelab.throwaway_prefix(TEMPLATE) as prefix:
            (prefix.path / "drive_c" / "recipe").mkdir()
            named = re.search(r"sessionend-\S+\.msi", install).group()
            shutil.copy(older, prefix.path / "drive_c" / "recipe" / named)

            def status(recipe):
                out = run_in(prefix, recipe)
                return int(re.search(r"status: (\d+)", out).group(1))

            self.assertEqual((status(install), status(remove)), (SUCCESS, SUCCESS))
            self.assertEqual(msiexec(prefix, "/i", newer), SUCCESS)
            self.assertEqual(status(install), FATAL)

    def test_the_task_registers_from_its_xml(self):
        (task,), (schtasks,) = blocks("xml"), [block for block in blocks("bat") if "schtasks" in block]
        # Well-formed, and the actions' context names the principal.
        root, ns = ElementTree.fromstring(task.encode()), {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
        self.assertEqual(root.find("t:Actions", ns).get("Context"), root.find("t:Principals/t:Principal", ns).get("id"))
        with winelab.throwaway_prefix(TEMPLATE) as prefix:
            (prefix.path / "drive_c" / "recipe").mkdir()
            (prefix.path / "drive_c" / "recipe" / re.search(r"/XML (\S+)", schtasks).group(1)).write_text(task)
            self.assertIn("status: 0", run_in(prefix, schtasks + "echo status: %errorlevel%\n"))
            name = re.search(r'/TN "([^"]+)"', schtasks).group(1)
            self.assertTrue((prefix.path / "drive_c" / "windows" / "system32" / "tasks" / name).is_file())

    def test_each_recipe_reports_exactly_a_refusal(self):
        found = recipes("sessionend.exe")
        self.assertEqual(len(found), 2, "the README's status and log-off recipes")
        for recipe in found:
            message = re.search(r"if errorlevel \d+ echo (.*)", recipe).group(1).strip()
            for refused in (False, True):
                with self.subTest(recipe=recipe.splitlines()[-2], refused=refused):
                    out = self.run_recipe(recipe, refused)
                    self.assertEqual(message in out, refused, out)


if __name__ == "__main__":
    unittest.main()
