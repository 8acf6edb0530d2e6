# Tests of the stored-waveform reader and of the sample conversion the
# end-to-end tests expect.
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simwave  # noqa: E402


class SampleConversion(unittest.TestCase):
    def test_values_become_truncated_low_16_bits(self):
        cases = [
            (0.0, 0), (1.9, 1), (-1.9, -1), (32767.9, 32767), (32768.0, -32768),
            (-32768.0, -32768), (-32769.0, 32767), (65536.0, 0), (70000.5, 4464),
            (-0.5, 0), (float("nan"), 0), (float("inf"), 0), (float("-inf"), 0),
            (2.0 ** 63, 0), (-(2.0 ** 63), 0), (2.0 ** 62 + 3 * 2.0 ** 10, 3072),
        ]
        for value, sample in cases:
            with self.subTest(value=value):
                self.assertEqual(simwave.sample_of(value), sample)

    def test_encoding_is_big_endian_and_reads_back(self):
        data = simwave.encode_samples([1, -1, 32767, -32768, 0x1234])
        self.assertEqual(data, b"\x00\x01\xff\xff\x7f\xff\x80\x00\x12\x34")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "w.bin")
            with open(path, "wb") as file:
                file.write(data)
            self.assertEqual(simwave.read_samples(path), [1, -1, 32767, -32768, 0x1234])
        with self.assertRaises(ValueError):
            simwave.decode_samples(b"\x00")


class StoredFileName(unittest.TestCase):
    # The same table as the simulator's own test of its mapping.
    def test_names_map_to_safe_file_names(self):
        cases = [
            ("tone", "tone"), ("Tone_2-b", "Tone_2-b"), ("", "%"), ("a b", "a%20b"),
            ("../etc", "%2E%2E%2Fetc"), ("c:\\x", "c%3A%5Cx"), ("%", "%25"),
            (b"\xff\x01", "%FF%01"),
        ]
        for name, file in cases:
            with self.subTest(name=name):
                self.assertEqual(simwave.stored_file_name(name), file)

    def test_long_names_are_cut_and_hashed(self):
        long_name = "x" * 300
        file = simwave.stored_file_name(long_name)
        self.assertEqual(len(file), 97)
        self.assertTrue(file.startswith("x" * 80 + "~"))
        self.assertNotEqual(file, simwave.stored_file_name(long_name + "y"))
        spaced = "x" * 79 + " " * 30
        self.assertTrue(simwave.stored_file_name(spaced).startswith("x" * 79 + "~"))

    def test_path_layout(self):
        self.assertEqual(simwave.stored_file_path("s", "gpib0", 19, "arbi", "a b"),
                         os.path.join("s", "gpib0-19", "arbi", "a%20b.bin"))


if __name__ == "__main__":
    unittest.main()
