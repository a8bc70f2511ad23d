"""The README's main job, run as it is: it fails unless the agent imported
both certificates linked to their containers, warned about the expiring one
and cleaned the store when its token was pulled out."""
import subprocess
import sys

import harness
from harness import REPO, ScenarioTest


class MainJob(ScenarioTest):
    def test_main_job_runs_through(self):
        result = subprocess.run([sys.executable, str(REPO / "bench" / "main-job"), "--prefix", str(self.ws.prefix)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        output = result.stdout.decode(errors="replace")
        self.assertEqual(0, result.returncode, output + result.stderr.decode(errors="replace"))
        self.assertIn("main job done", output)
        self.assertIn("истекает через", output)
        self.assertIn("\t * Петров Пётр Петрович", output)


if __name__ == "__main__":
    harness.main()
