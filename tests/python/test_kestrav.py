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


def program_document(first, second, *extra):
    """The program's --json document for the pair."""
    run = subprocess.run([PROGRAM, "-m", first, "-a", second, "-s", "262144", "-f", "1000000",
                          "-r", "311", "-j", "0", "--json", *extra],
                         check=True, capture_output=True, text=True)
    return json.loads(run.stdout), run.stderr


# -r 311 as the program converts it, so that the parameters echoed agree to the last bit.
TYPED_WINDOW = 311 * 0.000001


class WholeResult(unittest.TestCase):
    """Recordings named by path: every field of the program's --json, in seconds and hertz."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="kestrav-python-")
        cls.first = os.path.join(cls.directory, "first.iq")
        cls.second = os.path.join(cls.directory, "second.iq")
        synthesize(cls.first, cls.second)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.directory)

    def test_fields_as_the_program_prints_them(self):
        cases = [  # program options, search arguments
            (["-c", "0", "-t", "15"], {}),
            (["-c", "0", "-t", "15", "--precise", "--refine-all", "--threads", "2"],
             {"precise": True, "refine_all": True, "threads": 2}),
            (["-c", "-30", "--false-alarm", "0.01", "--distinct", "--remove-dc"],
             {"centre_delay": -30 * 0.000001, "false_alarm": 0.01, "distinct": True,
              "remove_dc": True}),
        ]
        renamed = {"delay": "delay_s", "frequency_offset": "frequency_offset_hz",
                   "level": "level_db", "precise_delay": "precise_delay_s",
                   "precise_frequency_offset": "precise_frequency_offset_hz",
                   "sigma_delay": "sigma_delay_s",
                   "sigma_frequency_offset": "sigma_frequency_offset_hz",
                   "refined": "refined", "class": "class", "result_class": "class",
                   "at_delay_edge": "at_delay_edge", "at_frequency_edge": "at_frequency_edge",
                   "alias_ambiguous": "alias_ambiguous", "ambiguous": "ambiguous",
                   "correlation_coefficient": "correlation_coefficient",
                   "explained_by": "explained_by", "lag_index": "lag_index",
                   "delay_rate": "delay_rate", "sigma_delay_rate": "sigma_delay_rate",
                   "frequency_rate": "frequency_rate",
                   "sigma_frequency_rate": "sigma_frequency_rate",
                   "model_mismatch": "model_mismatch", "paths": "paths",
                   "path_relative_power_db": "path_relative_power_db",
                   "path_delay": "path_delay_s", "path_receiver": "path_receiver"}
        for options, arguments in cases:
            expected, said = program_document(self.first, self.second, *options)
            results = kestrav.search(self.first, self.second, sample_rate=RATE,
                                     delay_window=TYPED_WINDOW, **arguments)
            self.assertEqual(len(results), len(expected["results"]), options)
            for got, want in zip(results, expected["results"]):
                for name, key in renamed.items():
                    self.assertEqual(getattr(got, name), want.get(key), (options, name))
                self.assertEqual(got.json, want)
            self.assertEqual(results.warnings, expected["warnings"], options)
            self.assertEqual(["kestrav: warning: " + w for w in results.warnings],
                             said.splitlines(), options)
            for key in ("version", "inputs", "parameters", "lag_window", "sample_count"):
                self.assertEqual(results.document[key], expected[key], (options, key))

    def test_units_of_the_precise_values(self):
        best = kestrav.search(self.first, self.second, sample_rate=RATE, delay_window=TYPED_WINDOW)[0]
        self.assertTrue(best.refined)
        self.assertEqual(best.result_class, "emitter")
        self.assertEqual(getattr(best, "class"), "emitter")
        self.assertFalse(best.at_delay_edge or best.at_frequency_edge or best.ambiguous)
        # Seconds and hertz, as delay and frequency_offset: the truth within a few deviations,
        # the deviations of a 20 dB pair far below a sample and a hertz.
        self.assertTrue(0 < best.sigma_delay < 1e-8, best.sigma_delay)
        self.assertTrue(0 < best.sigma_frequency_offset < 0.1, best.sigma_frequency_offset)
        self.assertAlmostEqual(best.precise_delay, -87.654e-6, delta=6 * best.sigma_delay)
        self.assertAlmostEqual(best.precise_frequency_offset, 2345.678,
                               delta=6 * best.sigma_frequency_offset)
        self.assertAlmostEqual(best.precise_delay, best.delay, delta=2e-9)
        # A clean pair: no drift beyond a few deviations (s/s and Hz/s), no second path, no flag.
        self.assertLess(abs(best.delay_rate), 5 * best.sigma_delay_rate)
        self.assertLess(abs(best.frequency_rate), 5 * best.sigma_frequency_rate)
        self.assertEqual(best.paths, [])
        self.assertFalse(best.model_mismatch)
        self.assertEqual(best.json["delay_us"], best.json["delay_s"] * 1e6)
        self.assertEqual(best.fine_delay["grid_step_s"], best.json["fine_delay"]["grid_step_s"])
        # With precise=True the reported values are the precise ones.
        reported = kestrav.search(self.first, self.second, sample_rate=RATE,
                                  delay_window=TYPED_WINDOW, precise=True)[0]
        self.assertEqual((reported.delay, reported.frequency_offset),
                         (best.precise_delay, best.precise_frequency_offset))

    def test_arrays_carry_the_three_values_only(self):
        pair = [np.fromfile(path, dtype="<i2").reshape(-1, 2)
                for path in (self.first, self.second)]
        best = kestrav.search(*pair, sample_rate=RATE, delay_window=TYPED_WINDOW)[0]
        for name in ("refined", "precise_delay", "sigma_delay", "result_class", "at_delay_edge",
                     "json"):
            self.assertIsNone(getattr(best, name), name)
        self.assertIsNone(kestrav.search(*pair, sample_rate=RATE, delay_window=TYPED_WINDOW).document)
        with self.assertRaises(kestrav.KestravError) as caught:
            kestrav.search(*pair, sample_rate=RATE, delay_window=TYPED_WINDOW, precise=True)
        self.assertIn("precise need both recordings named by path", str(caught.exception))

    def test_refusals(self):
        cases = [  # arguments, status, reason
            ({"threads": -1}, 2, "thread count -1"),
            ({"backend": "gpu"}, 2, "backend 'gpu'"),
            ({"false_alarm": 2.0}, 2, "false-alarm probability"),
            ({"sample_format": "cf64"}, 2, "format 'cf64'"),
            ({"delay_window": 0.0}, 2, "window"),
        ]
        for arguments, status, reason in cases:
            given = {"sample_rate": RATE, "delay_window": TYPED_WINDOW, **arguments}
            with self.assertRaises(kestrav.KestravError) as caught:
                kestrav.search(self.first, self.second, **given)
            self.assertEqual(caught.exception.status, status, arguments)
            self.assertIn(reason, str(caught.exception), arguments)

    def test_version(self):
        program = subprocess.run([PROGRAM, "--version"], check=True, capture_output=True,
                                 text=True).stdout.split()[1]
        self.assertEqual(kestrav.__version__, program)
        self.assertEqual(kestrav.library_version(), program)

    def test_library_looked_for_in_order(self):
        saved = os.environ.pop("KESTRAV_LIBRARY")
        try:
            candidates = kestrav._library_candidates()
            self.assertEqual(candidates[-2:][0], "libkestrav.so.0")
            self.assertTrue(candidates[-1].endswith(os.path.join("build", "lib", "libkestrav.so")))
            os.environ["KESTRAV_LIBRARY"] = "/nonexistent/libkestrav.so"
            self.assertEqual(kestrav._library_candidates(), ["/nonexistent/libkestrav.so"])
            with self.assertRaises(OSError) as caught:
                kestrav._load_library()
            self.assertIn("libkestrav.so not found", str(caught.exception))
            self.assertIn("/nonexistent/libkestrav.so", str(caught.exception))
        finally:
            os.environ["KESTRAV_LIBRARY"] = saved


if __name__ == "__main__":
    unittest.main()
