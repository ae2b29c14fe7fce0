#!/usr/bin/python3
"""Unpacks a machine's capture, as the playbook packs it there (capture.tgz holding capture/),
into a directory on the controller, which it makes (or which must be empty).

The archive comes from the machine and is not trusted: a machine could send one whose names or
links lead out of the lab, so that the controller's own files would be read or written when the
lab is flashed and rehearsed. The whole archive is checked before anything is written, and
refused unless:
  - it holds directories, regular files and symbolic links only (no hard link, device or fifo);
  - every name lies under "capture/", with no empty, "." or ".." component, no name twice, and
    none below a file or a link of the archive;
  - every link's target is relative: some ".." first, which climb the real directories above the
    link but never above "capture/", then plain names (the links of a captured sysfs are so);
  - it stays small (a capture is a few kilobytes).
Files are written 0644 and directories 0755 whatever the archive says, none replacing another.

    unpack_capture.py ARCHIVE DIRECTORY
Exit status 0 when unpacked; 1, with the reason on standard error, when refused or unreadable;
2 on a usage error.
"""
import os
import stat
import sys
import tarfile
import zlib

TOP = "capture"
MAX_MEMBERS = 10000
MAX_BYTES = 64 << 20
MAX_NAME = 4096


class Refused(Exception):
    pass


def name_parts(name):
    """The components of a member's name, refused unless it lies under capture/."""
    if len(name) > MAX_NAME:
        raise Refused(f"a name of {len(name)} characters")
    parts = name.split("/")
    if parts[0] != TOP or any(part in ("", ".", "..") for part in parts):
        raise Refused(f"{name!r} is not a plain name under {TOP}/")
    return parts


def check_link(parts, target):
    """Refuses a link whose target is absolute or could lead above capture/."""
    where = "/".join(parts)
    if not target or len(target) > MAX_NAME or target.startswith("/"):
        raise Refused(f"the link {where!r} points to {target!r}, not inside {TOP}/")
    steps = target.split("/")
    climbs = 0
    while climbs < len(steps) and steps[climbs] == "..":
        climbs += 1
    rest = steps[climbs:]
    # The link's directory is parts[:-1]: it may climb to capture/ itself, never above.
    if climbs > len(parts) - 2 or any(step in ("", ".", "..") for step in rest):
        raise Refused(f"the link {where!r} points to {target!r}, not inside {TOP}/")


def checked_members(archive):
    """Every member of the archive, once all of them are known to be safe to unpack."""
    members = []
    kinds = {}
    total = 0
    for member in archive:
        if len(members) == MAX_MEMBERS:
            raise Refused(f"more than {MAX_MEMBERS} entries")
        parts = name_parts(member.name)
        if member.isdir():
            kind = "directory"
        elif member.isreg():
            kind = "file"
            total += member.size
            if total > MAX_BYTES:
                raise Refused(f"more than {MAX_BYTES} bytes")
        elif member.issym():
            kind = "link"
            check_link(parts, member.linkname)
        else:
            raise Refused(f"{member.name!r} is neither a directory, a file nor a symbolic link")
        key = "/".join(parts)
        if key in kinds:
            raise Refused(f"{member.name!r} appears twice")
        kinds[key] = kind
        members.append((member, parts, kind))
    # Nothing may lie below a file or a link: unpacking it would write through the link.
    for member, parts, _ in members:
        for depth in range(1, len(parts)):
            above = "/".join(parts[:depth])
            if kinds.get(above, "directory") != "directory":
                raise Refused(f"{member.name!r} lies below the {kinds[above]} {above!r}")
    return members


def make_directories(root, parts):
    """Makes each of the directories root/parts..., refusing any that exists as something else."""
    path = root
    for part in parts:
        path = os.path.join(path, part)
        try:
            os.mkdir(path, 0o755)
        except FileExistsError:
            if not stat.S_ISDIR(os.lstat(path).st_mode):
                raise Refused(f"{path!r} exists and is not a directory")
    return path


def unpack(archive, members, root):
    for member, parts, kind in members:
        if kind == "directory":
            make_directories(root, parts)
            continue
        path = os.path.join(make_directories(root, parts[:-1]), parts[-1])
        if kind == "link":
            os.symlink(member.linkname, path)
            continue
        source = archive.extractfile(member)
        descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW
                             | os.O_CLOEXEC, 0o644)
        with os.fdopen(descriptor, "wb") as target:
            left = member.size
            while left > 0:
                chunk = source.read(min(left, 1 << 20))
                if not chunk:
                    raise Refused(f"{member.name!r} is cut short")
                target.write(chunk)
                left -= len(chunk)


def main(argv):
    if len(argv) != 3:
        print("usage: unpack_capture.py ARCHIVE DIRECTORY", file=sys.stderr)
        return 2
    path, root = argv[1], argv[2]
    try:
        try:
            os.mkdir(root, 0o755)
        except FileExistsError:
            pass
        if not stat.S_ISDIR(os.lstat(root).st_mode) or os.listdir(root):
            raise Refused(f"{root!r} is not an empty directory")
        with tarfile.open(path, "r:gz") as archive:
            unpack(archive, checked_members(archive), root)
    except Refused as refusal:
        print(f"{path}: refused: {refusal}", file=sys.stderr)
        return 1
    except (OSError, EOFError, ValueError, tarfile.TarError, zlib.error) as error:
        print(f"{path}: unreadable: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
