"""The playbook's unpacking of a machine's capture on the controller: a capture shaped like the
ones hlvsim writes (relative links within its sysfs) is unpacked as it is, with sane modes; an
archive whose names or links lead out of the lab, or that holds what a lab never does, is refused
before anything is written.
    python3 unpack_capture_test.py CONTRIB_ANSIBLE_DIR
"""
import io
import os
import stat
import sys
import tarfile
import tempfile
import shutil
import unittest
from unittest import mock

sys.path.insert(0, sys.argv.pop(1))
import unpack_capture  # noqa: E402


def directory(name, mode=0o755):
    info = tarfile.TarInfo(name)
    info.type = tarfile.DIRTYPE
    info.mode = mode
    return info, None


def file(name, data=b"x", mode=0o644):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mode = mode
    return info, data


def link(name, target, kind=tarfile.SYMTYPE):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = target
    return info, None


def special(name, kind):
    info = tarfile.TarInfo(name)
    info.type = kind
    return info, None


def archive(path, entries):
    with tarfile.open(path, "w:gz") as tar:
        for info, data in entries:
            tar.addfile(info, io.BytesIO(data) if data is not None else None)


# The shape of a real capture: the links of its sysfs climb, then name a place inside it.
CAPTURE = [
    directory("capture"),
    directory("capture/sys/bus/pci/drivers/halvern"),
    directory("capture/sys/module/halvern"),
    directory("capture/sys/bus/pci/devices/0000:01:00.0/net/enp1s0"),
    file("capture/sys/bus/pci/devices/0000:01:00.0/vendor", b"0x1e9c\n"),
    file("capture/sys/bus/pci/devices/0000:01:00.0/net/enp1s0/address", b"00:11:22:33:44:55\n"),
    link("capture/sys/bus/pci/drivers/halvern/module", "../../../../module/halvern"),
    link("capture/sys/bus/pci/drivers/halvern/0000:01:00.0", "../../devices/0000:01:00.0"),
    link("capture/sys/bus/pci/devices/0000:01:00.0/driver", "../../drivers/halvern"),
    link("capture/sys/top", ".."),
    directory("capture/tool"),
]


class UnpackCapture(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        self.root = os.path.join(self.scratch.name, "results", "host", "lab")
        os.makedirs(self.root)
        # What a hostile archive aims at: a file and a directory beside the results.
        self.outside = os.path.join(self.scratch.name, "bundle")
        os.mkdir(self.outside)
        with open(os.path.join(self.outside, "fw.bin"), "wb") as target:
            target.write(b"the controller's image")

    def unpack(self, entries):
        path = os.path.join(self.scratch.name, "capture.tgz")
        archive(path, entries)
        return unpack_capture.main(["unpack_capture.py", path, self.root])

    def test_a_capture_is_unpacked_with_its_links_and_sane_modes(self):
        entries = CAPTURE + [file("capture/tool/setuid", b"#!/bin/sh\n", mode=0o4777),
                             directory("capture/open", mode=0o777)]
        # The lab's directory is made; with no umask to hide them, the modes are the unpacker's.
        os.rmdir(self.root)
        mask = os.umask(0)
        try:
            self.assertEqual(self.unpack(entries), 0)
        finally:
            os.umask(mask)
        sys_dir = os.path.join(self.root, "capture", "sys")
        device = os.path.join(sys_dir, "bus/pci/devices/0000:01:00.0")
        with open(os.path.join(device, "driver", "0000:01:00.0", "vendor"), "rb") as vendor:
            self.assertEqual(vendor.read(), b"0x1e9c\n")
        self.assertEqual(os.readlink(os.path.join(device, "driver")), "../../drivers/halvern")
        self.assertTrue(os.path.isdir(os.path.join(device, "driver", "module")))
        self.assertEqual(os.path.realpath(os.path.join(sys_dir, "top")),
                         os.path.realpath(os.path.join(self.root, "capture")))
        for name, mode in (("capture/tool/setuid", 0o644), ("capture/open", 0o755)):
            with self.subTest(name=name):
                self.assertEqual(stat.S_IMODE(os.lstat(os.path.join(self.root, name)).st_mode),
                                 mode)

    def test_an_archive_leading_out_of_the_lab_is_refused_before_anything_is_written(self):
        outside_file = os.path.join(self.outside, "fw.bin")
        cases = {
            "an absolute link": [directory("capture"), link("capture/adapters", self.outside)],
            "a link climbing above the capture": [
                directory("capture/sys"), link("capture/sys/bundle", "../../../bundle")],
            "a link to the lab around the capture": [
                directory("capture/sys"), link("capture/sys/lab", "../..")],
            "a link climbing out of the lab's parent": [
                link("capture/x", "../" * 8 + self.outside.lstrip("/"))],
            "a link climbing through another link": [
                directory("capture/a"), link("capture/a/up", ".."),
                link("capture/out", "a/up/../../bundle")],
            "a link going up after a name": [link("capture/out", "sys/../../bundle")],
            "a link through a current directory": [link("capture/out", "./../bundle")],
            "an empty link": [link("capture/out", "")],
            "the capture itself a link": [link("capture", "../../../bundle")],
            "a file below a link": [
                link("capture/adapters", "sys"), directory("capture/sys"),
                file("capture/adapters/flash.bin")],
            "a file below a link listed after it": [
                file("capture/adapters/flash.bin"), link("capture/adapters", "sys")],
            "a file below a file": [file("capture/a"), file("capture/a/b")],
            "a name climbing out": [file("capture/../../../bundle/fw.bin")],
            "an absolute name": [file(outside_file)],
            "a name outside the capture": [file("elsewhere/fw.bin")],
            "an empty component": [file("capture//fw.bin")],
            "a hard link": [link("capture/fw.bin", outside_file, tarfile.LNKTYPE)],
            "a device": [special("capture/disk", tarfile.BLKTYPE)],
            "a fifo": [special("capture/pipe", tarfile.FIFOTYPE)],
            "a name twice": [file("capture/a"), link("capture/a", "b")],
        }
        for case, entries in cases.items():
            with self.subTest(case=case):
                shutil.rmtree(self.root)
                os.mkdir(self.root)
                # A valid beginning: nothing of it may be written either.
                self.assertEqual(self.unpack([file("capture/first")] + entries), 1)
                self.assertEqual(os.listdir(self.root), [])
                self.assertEqual(os.listdir(self.outside), ["fw.bin"])
                with open(outside_file, "rb") as image:
                    self.assertEqual(image.read(), b"the controller's image")

    def test_an_oversized_or_unreadable_archive_is_refused(self):
        path = os.path.join(self.scratch.name, "capture.tgz")
        cases = {
            "too many bytes": ({"MAX_BYTES": 10},
                               [file("capture/a", b"123456"), file("capture/b", b"123456")]),
            "too many entries": ({"MAX_MEMBERS": 2},
                                 [directory("capture"), file("capture/a"), file("capture/b")]),
            "not an archive": ({"MAX_BYTES": unpack_capture.MAX_BYTES}, None),
        }
        for case, (limits, entries) in cases.items():
            with self.subTest(case=case), mock.patch.multiple(unpack_capture, **limits):
                if entries is None:
                    with open(path, "wb") as garbage:
                        garbage.write(b"\x1f\x8b\x08\x00" + b"\xff" * 64)
                else:
                    archive(path, entries)
                self.assertEqual(unpack_capture.main(["unpack_capture.py", path, self.root]), 1)
                self.assertEqual(os.listdir(self.root), [])

    def test_a_lab_directory_not_empty_is_left_alone(self):
        with open(os.path.join(self.root, "left"), "w"):
            pass
        self.assertEqual(self.unpack(CAPTURE), 1)
        self.assertEqual(os.listdir(self.root), ["left"])


if __name__ == "__main__":
    unittest.main()
