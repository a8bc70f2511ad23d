"""Every message the agent can log, and every call its ERROR lines name,
stands in the administrators' guide's log reference, whichever page holds it,
so no new line goes undocumented."""
import re
import sys
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "package"))
import make_package  # noqa: E402

LITERAL = r'"((?:[^"\\]|\\.)*)"'


def reference():
    text = make_package.guide_text()
    section = text[text.index("### Every message, and what to do"):text.index("### Result codes")]
    return section.replace("\\|", "|")


def sources():
    return {path: path.read_text(encoding="utf-8") for path in sorted((REPO / "src").rglob("*.cpp"))}


def russian(literal):
    """A text kept as Windows-1251 escapes, as it reads."""
    raw = re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), literal).replace('\\"', '"')
    return raw.encode("latin-1").decode("cp1251")


class LogReference(unittest.TestCase):
    def test_every_logged_message_is_in_the_reference(self):
        documented = reference()
        formats = []
        for path, text in sources().items():
            for call in re.finditer(r"log_write\(\s*LogLevel::\w+\s*,\s*((?:%s\s*)+)" % LITERAL, text):
                formats.append((path.name, "".join(re.findall(LITERAL, call.group(1)))))
        self.assertGreater(len(formats), 60)
        # The two expiry texts are logged through "%s": their formats count.
        expiry = (REPO / "src" / "crypt_utils" / "expiry_rules.cpp").read_text(encoding="utf-8")
        for name in ("days_left_format", "expired_format"):
            formats.append((name, russian(re.search(name + r"\[\] =\s*" + LITERAL, expiry).group(1))))
        missing = [(where, f) for where, f in formats if f != "%s" and f not in documented]
        self.assertEqual([], missing)

    def test_every_call_an_error_line_names_is_in_the_reference(self):
        documented = reference()
        calls = set()
        for path, text in sources().items():
            if path.parent.name == "crypt_utils":
                calls.update(re.findall(r'"((?:Crypt|Cert|SystemTime)\w*\([^"]*\))"', text))
        self.assertGreater(len(calls), 15)
        self.assertEqual([], sorted(c for c in calls if "`%s`" % c not in documented))


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
