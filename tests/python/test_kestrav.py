"""The Python binding against the program on the same generated pair."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import numpy as np

import kestrav

PROGRAM = os.environ["KESTRAV_PROGRAM"]
SYNTH = os.environ["KESTRAV_SYNTH"]
RATE = 1_000_000.0
WINDOW = 311e-6


def synthesize(first, second, *extra):
    subprocess.run([SYNTH, "--first=" + first, "--second=" + second, *extra, "--samples=262144",
                    "--rate=1000000", "--delay-us=-87.654", "--offset-hz=2345.678", "--snr-db=20",
                    "--seed=5"], check=True, stdout=subprocess.DEVNULL)


def program_results(first, second, *extra):
    """The program's result text, read back as (delay s, offset Hz, level dB)."""
    run = subprocess.run([PROGRAM, "-m", first, "-a", second, "-s", "262144", "-f", "1000000",
                          "-c", "0", "-r", "311", "-j", "0", "-t", "15", *extra],
                         check=True, capture_output=True, text=True)
    count, rest = run.stdout.split(":", 1)
    return [tuple(float(v) * (1e-6 if i == 0 else 1) for i, v in enumerate(record.split("*")))
            for record in rest.split("+")[: int(count)]]


class Binding(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="kestrav-python-")
        cls.first = os.path.join(cls.directory, "first.iq")
        cls.second = os.path.join(cls.directory, "second.iq")
        synthesize(cls.first, cls.second)
        cls.expected = program_results(cls.first, cls.second)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.directory)

    def assertSameAsProgram(self, results, expected=None):
        expected = self.expected if expected is None else expected
        self.assertEqual(len(results), len(expected))
        for got, want in zip(results, expected):
            self.assertAlmostEqual(got.delay * 1e6, want[0] * 1e6, delta=0.0005)
            self.assertAlmostEqual(got.frequency_offset, want[1], delta=0.0005)
            self.assertAlmostEqual(got.level, want[2], delta=0.0005)

    def test_file_paths(self):
        results = kestrav.search(self.first, self.second, sample_rate=RATE, delay_window=WINDOW)
        self.assertSameAsProgram(results)
        self.assertAlmostEqual(results[0].delay, -87.654e-6, delta=3e-9)
        self.assertEqual(results[0]._fields, ("delay", "frequency_offset", "level"))

    def test_arrays_give_identical_results(self):
        first, second = (np.fromfile(path, dtype="<i2").reshape(-1, 2)
                         for path in (self.first, self.second))
        from_ints = kestrav.search(first, second, sample_rate=RATE, delay_window=WINDOW)
        self.assertEqual(from_ints, kestrav.search(self.first, self.second, sample_rate=RATE,
                                                   delay_window=WINDOW))
        # The same values as complex64: the same results, bit for bit.
        as_complex = [(pair[:, 0] + 1j * pair[:, 1]).astype(np.complex64)
                      for pair in (first, second)]
        self.assertEqual(kestrav.search(*as_complex, sample_rate=RATE, delay_window=WINDOW),
                         from_ints)
        # The generated pair unrounded, as kestrav-synth writes cf32: as the program finds it, and
        # within a grid step of the int16 pair's refined result.
        paths = [os.path.join(self.directory, name + ".cf32") for name in ("first", "second")]
        synthesize(*paths, "--format=cf32")
        unrounded = [kestrav.load(path, "cf32")[0] for path in paths]
        self.assertEqual(unrounded[0].dtype, np.complex64)
        results = kestrav.search(*unrounded, sample_rate=RATE, delay_window=WINDOW)
        self.assertSameAsProgram(results, program_results(*paths, "--format=cf32"))
        self.assertAlmostEqual(results[0].delay, from_ints[0].delay, delta=1.0001e-9)
        self.assertAlmostEqual(results[0].frequency_offset, from_ints[0].frequency_offset,
                               delta=1.0001e-4)

    def test_sigmf_gives_its_sample_rate(self):
        for path, name in ((self.first, "a"), (self.second, "b")):
            base = os.path.join(self.directory, name)
            shutil.copyfile(path, base + ".sigmf-data")
            with open(base + ".sigmf-meta", "w") as meta:
                json.dump({"global": {"core:datatype": "ci16_le", "core:sample_rate": RATE,
                                      "core:version": "1.0.0"}, "captures": [], "annotations": []},
                          meta)
        self.assertSameAsProgram(kestrav.search(os.path.join(self.directory, "a.sigmf-meta"),
                                                os.path.join(self.directory, "b.sigmf-data"),
                                                delay_window=WINDOW))

    def test_files_read_by_the_library_loader(self):
        """Names, containers and SigMF fields as the program reads them, refusals with its reason."""
        raw = np.fromfile(self.first, dtype="<i2").reshape(-1, 2)
        cfile = os.path.join(self.directory, "named.cfile")
        raw.astype(np.float32).tofile(cfile)
        shifted = os.path.join(self.directory, "shifted")
        with open(shifted + ".sigmf-data", "wb") as data:
            data.write(b"\x55" * 8 + raw.tobytes())
        with open(shifted + ".sigmf-meta", "w") as meta:
            json.dump({"global": {"core:datatype": "ci16_le", "core:sample_rate": RATE},
                       "captures": [{"core:sample_start": 0, "core:header_bytes": 8}]}, meta)
        stereo = os.path.join(self.directory, "stereo")
        np.stack([np.zeros_like(raw), raw], axis=1).astype("<i2").tofile(stereo + ".sigmf-data")
        with open(stereo + ".sigmf-meta", "w") as meta:
            json.dump({"global": {"core:datatype": "ci16_le", "core:num_channels": 2}}, meta)
        cases = [  # path, load's arguments, samples wanted, rate wanted
            (cfile, {}, (raw[:, 0] + 1j * raw[:, 1]).astype(np.complex64), None),
            (cfile, {"sample_format": "ci16"}, raw.astype(np.float32).view("<i2").reshape(-1, 2),
             None),
            (shifted, {}, raw, RATE),
            (stereo + ".sigmf-meta", {"channel": 1}, raw, None),
        ]
        for path, arguments, wanted, rate in cases:
            samples, got_rate = kestrav.load(path, **arguments)
            np.testing.assert_array_equal(samples, wanted, err_msg=path)
            self.assertEqual(got_rate, rate, path)
        self.assertSameAsProgram(kestrav.search(shifted, self.second, delay_window=WINDOW))
        refusals = [
            (stereo, {}, "pick one with --channel K"),
            (shifted + ".sigmf-meta", {"sample_format": "cf32"}, "disagrees with the given"),
            (shifted + ".sigmf-meta", {"sample_format": "cf64"}, "is not one of ci16"),
            (shifted + ".sigmf-data.missing", {}, "does not exist"),
        ]
        disguised = os.path.join(self.directory, "disguised.iq")
        shutil.copyfile(shifted + ".sigmf-meta", disguised)
        refusals.append((disguised, {}, "looks like a JSON document"))
        nan = os.path.join(self.directory, "nan.cf32")
        values = raw.astype(np.float32)
        values[7, 1] = np.nan
        values.tofile(nan)
        refusals.append((nan, {}, "not a finite number (NaN or infinity) at sample 7"))
        for path, arguments, reason in refusals:
            with self.assertRaises(kestrav.KestravError) as caught:
                kestrav.load(path, **arguments)
            self.assertEqual(caught.exception.status, 2)
            self.assertIn(reason, str(caught.exception))

    def test_errors_carry_the_reason(self):
        with self.assertRaises(kestrav.KestravError) as caught:
            kestrav.search(self.first, self.second, sample_rate=-1.0, delay_window=1e-4)
        self.assertEqual(caught.exception.status, 2)
        self.assertIn("sample rate", str(caught.exception))
        with self.assertRaises(kestrav.KestravError):
            kestrav.search(np.zeros(10, dtype=np.float64), self.second, sample_rate=RATE,
                           delay_window=1e-4)
        # Nothing found is an empty list, not an error.
        self.assertEqual(kestrav.search(self.first, self.second, sample_rate=RATE,
                                        delay_window=WINDOW, peak_threshold=60.0), [])


if __name__ == "__main__":
    unittest.main()
