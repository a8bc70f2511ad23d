"""The administrators' guide as the package ships it: every page the index
links, joined into one HTML page whose links between pages stay links."""
import re
import sys
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "package"))
import make_package  # noqa: E402

PAGES = [make_package.GUIDE.parent / "administrators" / "two.md"]
TWO_PAGES = ('<h1 id="guide">Guide</h1>\n<a href="administrators/two.md">Two</a>\n'
             '<h1 id="two">Two</h1>\n<h2 id="deploying">Deploying</h2>\n')


class Guide(unittest.TestCase):
    def test_the_pages_are_the_index_and_every_page_it_links(self):
        pages = make_package.guide_pages()
        self.assertEqual(make_package.GUIDE, pages[0])
        self.assertEqual(sorted((REPO / "docs" / "administrators").glob("*.md")), sorted(pages[1:]))

    def test_the_joined_page_holds_every_page_and_its_links_reach_their_headings(self):
        with tempfile.TemporaryDirectory() as folder:
            make_package.render_guide(Path(folder))
            joined = (Path(folder) / "administrators.html").read_text(encoding="utf-8")
            index = (Path(folder) / "index.html").read_text(encoding="utf-8")
        ids = set(re.findall(r'\bid="([^"]+)"', joined))
        for page in make_package.guide_pages():
            title = re.match(r"# (.*)", page.read_text(encoding="utf-8")).group(1)
            self.assertIn(">%s</h1>" % title, joined)
        self.assertNotRegex(joined, r'href="[^"]*administrators[^"]*\.md')
        self.assertEqual(set(), set(re.findall(r'href="#([^"]*)"', joined)) - ids)
        self.assertIn('href="administrators.html#deploying"', index)
        self.assertIn('href="administrators.html#keyhaven-for-administrators-deploying"', index)

    def test_a_link_to_another_page_becomes_a_link_within_the_joined_page(self):
        body = make_package.joined_links(TWO_PAGES.replace('two.md"', 'two.md#deploying"'),
                                         [make_package.GUIDE] + PAGES)
        self.assertIn('<a href="#deploying">', body)
        self.assertIn('<a href="#two">', make_package.joined_links(TWO_PAGES, [make_package.GUIDE] + PAGES))
        self.assertIn('href="../README.md"', make_package.joined_links(
            TWO_PAGES + '<a href="../README.md">README</a>', [make_package.GUIDE] + PAGES))

    def test_a_link_to_no_heading_or_two_headings_alike_are_refused(self):
        with self.assertRaisesRegex(make_package.PackageError, "no heading .'nowhere'"):
            make_package.joined_links(TWO_PAGES.replace('two.md"', 'two.md#nowhere"'), [make_package.GUIDE] + PAGES)
        with self.assertRaisesRegex(make_package.PackageError, "alike .'deploying_1'"):
            make_package.joined_links(TWO_PAGES + '<h2 id="deploying_1">Deploying</h2>\n',
                                      [make_package.GUIDE] + PAGES)
        with self.assertRaisesRegex(make_package.PackageError, "one title"):
            make_package.joined_links(TWO_PAGES, [make_package.GUIDE])


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
