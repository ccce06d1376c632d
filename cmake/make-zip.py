"""Writes a zip of the named files, the same bytes for the same files whatever
the clock, the time zone, the umask or the folder: entries in the order given,
each dated 2026-01-01 00:00 with mode 644 and no extra fields.

    python3 make-zip.py OUT.zip FOLDER NAME..."""
import sys
import zipfile

out, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(out, "w") as archive:
    for name in names:
        entry = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o100644 << 16
        entry.create_system = 3  # Unix, so that the mode above is read
        with open(f"{folder}/{name}", "rb") as f:
            archive.writestr(entry, f.read(), compresslevel=9)
