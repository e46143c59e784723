"""The vendor tools, run on the real builds: the rebrand tool's results and refusals on both
bitnesses, the shipped translations being resources only, and the setup fitness check on our
setup program, the shipped DLL and Debian's NSIS files."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.environ["KV_TOOLS"]
sys.path.insert(0, TOOLS)
import pe_footprint  # noqa: E402
import rebrand  # noqa: E402

BUILDS = {"i686": os.environ["KV_DLL32"], "x86_64": os.environ["KV_DLL64"]}
SATELLITES = {"i686": os.environ["KV_SATELLITE32"], "x86_64": os.environ["KV_SATELLITE64"]}
SETUP = os.environ["KV_SETUP"]


def run_rebrand(*args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, "rebrand.py"), *args],
                          capture_output=True, text=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def slot_text(path):
    image = read(path)
    offset = rebrand.find_slot(image)
    return image[offset:offset + 260].split(b"\0", 1)[0]


def stored_checksum(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return struct.unpack_from("<I", image, pe + 24 + 64)[0]


class RebrandTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.scratch)

    def out(self, name):
        return os.path.join(self.scratch, name)

    def test_rebrands_and_back_to_identical_bytes(self):
        for bitness, dll in BUILDS.items():
            with self.subTest(bitness):
                original = read(dll)
                self.assertEqual(0, run_rebrand(dll, self.out("acme.dll"), "Acme Player").returncode)
                self.assertEqual(b"Acme Player", slot_text(self.out("acme.dll")))
                self.assertEqual(read(dll), original, "the input was written")
                patched = read(self.out("acme.dll"))
                self.assertEqual(rebrand.pe_checksum(patched), stored_checksum(patched))
                self.assertEqual(len(original), len(patched))

                self.assertEqual(0, run_rebrand(self.out("acme.dll"), self.out("blank.dll"),
                                                "--blank").returncode)
                self.assertEqual(b"", slot_text(self.out("blank.dll")))
                self.assertEqual(0, run_rebrand(self.out("blank.dll"), self.out("back.dll"),
                                                "Kestrovane").returncode)
                self.assertEqual(original, read(self.out("back.dll")))

    def test_refusals_give_one_line_and_write_nothing(self):
        dll = BUILDS["x86_64"]
        not_pe = self.out("notes.dll")
        with open(not_pe, "wb") as f:
            f.write(b"MZ but nothing more\n")
        two_slots = self.out("two-slots.dll")
        image = bytearray(read(dll))
        data = image.index(b".data\0\0\0")
        image[data:data + 8] = b".kvname\0"  # a second writable section of the slot's name
        with open(two_slots, "wb") as f:
            f.write(image)
        no_slot = self.out("no-slot.dll")
        image = bytearray(read(dll))
        slot = image.index(b".kvname\0")
        image[slot:slot + 8] = b".kvdata\0"
        with open(no_slot, "wb") as f:
            f.write(image)

        cases = [
            ("not a PE file", not_pe, "Acme", "not a PE file"),
            ("missing input", self.out("missing.dll"), "Acme", "cannot read"),
            ("no slot", no_slot, "Acme", "no product-name slot"),
            ("two candidates", two_slots, "Acme", "2 candidate"),
            ("260 bytes", dll, "n" * 260, "at most 259"),
            ("outside the code page", dll, "\u64ad\u653e\u5668", "ANSI code page"),
            ("backslash", dll, "Acme\\Player", "backslash"),
            ("empty", dll, "", "--blank"),
        ]
        for label, source, name, reason in cases:
            with self.subTest(label):
                target = self.out("result.dll")
                result = run_rebrand(source, target, name)
                self.assertNotEqual(0, result.returncode)
                self.assertEqual(1, len(result.stderr.strip().splitlines()), result.stderr)
                self.assertIn(reason, result.stderr)
                self.assertFalse(os.path.exists(target))

        copy = self.out("kvshellsearch.dll")
        shutil.copy(dll, copy)
        result = run_rebrand(copy, copy, "Acme")
        self.assertIn("overwrite the input", result.stderr)
        self.assertEqual(read(dll), read(copy))

    def test_longest_name_and_code_page_characters_fit(self):
        for name in ("n" * 259, "Caf\u00e9 \u20ac Player"):
            with self.subTest(len(name)):
                self.assertEqual(0, run_rebrand(BUILDS["i686"], self.out("r.dll"), name).returncode)
                self.assertEqual(name.encode("cp1252"), slot_text(self.out("r.dll")))


GERMAN = os.path.join(TOOLS, "..", "translations", "kvshellsearch-de.rc")


def check_codepage(text, directory):
    script = os.path.join(directory, "kvshellsearch-xx.rc")
    with open(script, "w", encoding="latin-1") as f:
        f.write(text)
    return subprocess.run([sys.executable, os.path.join(TOOLS, "check_rc_codepage.py"), script],
                          capture_output=True, text=True)


class CodePageCheckTest(unittest.TestCase):
    def test_code_page_must_be_the_languages_ansi_code_page(self):
        german = open(GERMAN, encoding="latin-1").read()
        copied = german.replace("LANG_GERMAN, SUBLANG_GERMAN", "LANG_RUSSIAN, SUBLANG_DEFAULT")
        fixed = copied.replace("code_page(1252)", "code_page(1251)")
        cases = [
            ("the shipped German", german, None),
            ("German copied, language changed, pragma left", copied, "code page 1251"),
            ("the same with its pragma fixed", fixed, None),
            ("no pragma", german.replace("#pragma code_page(1252)", ""), "code_page(1252)"),
            ("pragma after the language", german.replace("#pragma code_page(1252)\n", "")
             + "#pragma code_page(1252)\n", "before it"),
            ("Chinese traditional", "#pragma code_page(950)\n"
             "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL\n", None),
            ("Chinese traditional at 936", "#pragma code_page(936)\n"
             "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL\n", "code page 950"),
            ("unknown language", "#pragma code_page(1252)\nLANGUAGE LANG_KLINGON, SUBLANG_DEFAULT\n",
             "no known ANSI code page"),
            ("no language", "#pragma code_page(1252)\n", "no LANGUAGE"),
        ]
        with tempfile.TemporaryDirectory() as directory:
            for label, text, reason in cases:
                with self.subTest(label):
                    result = check_codepage(text, directory)
                    if reason is None:
                        self.assertEqual(0, result.returncode, result.stderr)
                    else:
                        self.assertNotEqual(0, result.returncode)
                        self.assertIn(reason, result.stderr)


class TranslationCompleteTest(unittest.TestCase):
    def test_a_string_lacking_or_left_empty_is_refused_by_name(self):
        german = open(GERMAN, encoding="latin-1").read()
        newer = 'IDS_MENU_TEXT_NEWER_SHELL "F\\374r Internet-&Audio/Video..."'
        cases = [
            ("the shipped German", german, None),
            ("older shells' text left out", german.replace("IDS_MENU_TEXT_OLDER_SHELL", "//"),
             "lacks IDS_MENU_TEXT_OLDER_SHELL"),
            ("menu text left empty", german.replace(newer, 'IDS_MENU_TEXT_NEWER_SHELL ""'),
             "lacks IDS_MENU_TEXT_NEWER_SHELL"),
        ]
        with tempfile.TemporaryDirectory() as directory:
            script = os.path.join(directory, "kvshellsearch-xx.rc")
            for label, text, reason in cases:
                with self.subTest(label):
                    self.assertIn(newer, german)
                    with open(script, "w", encoding="latin-1") as f:
                        f.write(text)
                    result = subprocess.run([sys.executable, os.path.join(
                        TOOLS, "check_translation_complete.py"), script],
                        capture_output=True, text=True)
                    self.assertEqual(reason is None, result.returncode == 0, result.stderr)
                    if reason:
                        self.assertIn(f"{script}: {reason}", result.stderr)


class SatelliteTest(unittest.TestCase):
    def test_translations_are_resources_only(self):
        for bitness, satellite in SATELLITES.items():
            with self.subTest(bitness):
                pe = pe_footprint.PeFile(satellite)
                self.assertEqual(bitness == "x86_64", pe.is64)
                self.assertEqual(0, pe.entry, "has an entry point")
                self.assertEqual([], pe.imports())
                self.assertEqual([], pe.exports())


class SetupFitnessTest(unittest.TestCase):
    def test_names_what_does_not_fit_and_passes_what_does(self):
        system = "/usr/share/nsis/Plugins/x86-ansi/System.dll"
        cases = [
            ("the shipped DLL on the i386", [BUILDS["i686"]], 0, "fit for Windows 95 on the i386"),
            ("our setup on the i386: Debian's stub", [SETUP], 1, "[CMOV (Pentium Pro)]"),
            ("our setup on the Pentium Pro", ["--floor", "pentiumpro", SETUP], 0,
             "fit for Windows 95 on the Pentium Pro"),
            ("Debian's System plugin", ["--floor", "pentiumpro", SETUP, system], 1,
             "imports msvcrt.dll, which Windows 95 as first released lacks"),
            ("a 64-bit DLL", [BUILDS["x86_64"]], 1, "is not a PE32 image for i386"),
            ("no such file", ["/nonexistent.exe"], 1, "no such file"),
            ("an unknown floor", ["--floor", "pentium4", SETUP], 2, "Usage:"),
        ]
        for label, args, code, text in cases:
            with self.subTest(label):
                result = subprocess.run(
                    [sys.executable, os.path.join(TOOLS, "check_setup_fitness.py"), *args],
                    capture_output=True, text=True)
                self.assertEqual(code, result.returncode, result.stdout + result.stderr)
                self.assertIn(text, result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main()
