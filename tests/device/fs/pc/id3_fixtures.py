#!/usr/bin/python3
"""ID3 fixtures and checks for the MP3 tag tests, written with mutagen, an ID3 implementation
independent of ours. Run by the tests under Wine through the Linux tool runner.

  make MANIFEST          add tags to the files listed (each already holds its audio); one line per
                         file: kind, path, title, artist, v1 title, v1 artist (tab-separated; the
                         four texts as hex of their UTF-8, so that they may hold tabs and line ends).
                         kind: v1, v22, v23, v24, with "+utf16", "+unsync" and "+v1" modifiers.
                         A title or artist holding "|" gives a frame of several values; an empty one
                         gives no frame.
  check-player MANIFEST  read each listed file (a tag built for the player, then the audio) and print
                         one line: version, tag size, frame ids, TXXX text (UTF-8 hex), and how many
                         MPEG frames follow the tag in a row (at most 3).
  check-frames MANIFEST  lines of "path offset": print how many MPEG frames in a row start at the
                         offset (at most 3).
Any fixture that mutagen does not read back as written is an error (exit status 1).
"""
import io
import struct
import sys

from mutagen.id3 import ID3, PRIV, TALB, TIT2, TPE1, TP1, TT2
from mutagen.id3._id3v1 import MakeID3v1
from mutagen.id3._tags import ID3Header, read_frames
from mutagen.id3._util import unsynch
from mutagen.mp3 import MPEGFrame, HeaderNotFoundError


def values(text):
    return text.split("|")


def v23_frames(title, artist, encoding):
    frames = []
    if title:
        frames.append(TIT2(encoding=encoding, text=values(title)))
    if artist:
        frames.append(TPE1(encoding=encoding, text=values(artist)))
    frames.append(TALB(encoding=encoding, text=["Album"]))
    return frames


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def write_v22(path, title, artist, encoding):
    # mutagen reads v2.2 but writes only v2.3 and v2.4: the frame bodies are mutagen's own, the
    # 6-byte frame headers and the tag header follow the v2.2 layout, and mutagen reads the result back.
    body = b""
    for frame_id, cls, text in ((b"TT2", TT2, title), (b"TP1", TP1, artist)):
        if text:
            data = cls(encoding=encoding, text=values(text))._writeData()
            body += frame_id + struct.pack(">I", len(data))[1:] + data
    with open(path, "rb") as f:
        audio = f.read()
    with open(path, "wb") as f:
        f.write(b"ID3\x02\x00\x00" + synchsafe(len(body)) + body + audio)


def apply_unsync(path):
    with open(path, "rb") as f:
        data = f.read()
    header = ID3Header(io.BytesIO(data))
    assert header.version == (2, 3, 0), header.version
    end = header.size
    body = unsynch.encode(data[10:end])
    flags = data[5] | 0x80
    with open(path, "wb") as f:
        f.write(data[:5] + bytes([flags]) + synchsafe(len(body)) + body + data[end:])


def make_one(kind, path, title, artist, v1_title, v1_artist):
    parts = kind.split("+")
    version = parts[0]
    encoding = 1 if "utf16" in parts else 0
    if version == "v22":
        write_v22(path, title, artist, encoding)
    elif version in ("v23", "v24"):
        tags = ID3()
        if "unsync" in parts:
            # Many 0xFF bytes ahead of the wanted frames, so that 0xFF 0x00 pairs straddle reads.
            tags.add(PRIV(owner="kwep", data=b"\xff" * 1500))
        for frame in v23_frames(title, artist, encoding):
            tags.add(frame)
        tags.save(path, v2_version=3 if version == "v23" else 4, v1=0, v23_sep=None)
        if "unsync" in parts:
            apply_unsync(path)
    elif version != "v1":
        raise ValueError("unknown kind " + kind)
    if version == "v1" or "v1" in parts[1:]:
        v1 = {}
        if v1_title:
            v1["TIT2"] = TIT2(encoding=0, text=[v1_title])
        if v1_artist:
            v1["TPE1"] = TPE1(encoding=0, text=[v1_artist])
        with open(path, "ab") as f:
            f.write(MakeID3v1(v1))

    # Read the fixture back with mutagen: it must hold what was asked for.
    if version in ("v22", "v23", "v24"):
        read = ID3(path, translate=False)
        expected = {"v22": (2, 2, 0), "v23": (2, 3, 0), "v24": (2, 4, 0)}[version]
        assert read.version == expected, (path, read.version)
        assert ("unsync" in parts) == bool(read.f_unsynch), path
        title_id = "TT2" if version == "v22" else "TIT2"
        if title:
            got = read.getall(title_id) or read.getall("TIT2")
            assert got and got[0].text == values(title), (path, got)
    if version == "v1":
        read = ID3(path)
        if v1_title:
            assert str(read["TIT2"]) == v1_title, (path, read.get("TIT2"))


def mpeg_frames_in_a_row(f, offset, most=3):
    f.seek(offset)
    count = 0
    for _ in range(most):
        try:
            MPEGFrame(f)
        except (HeaderNotFoundError, EOFError):
            break
        count += 1
    return count


def check_player(path):
    with open(path, "rb") as f:
        data = f.read()
    f = io.BytesIO(data)
    header = ID3Header(f)
    body = data[10:header.size]
    # read_frames with no known frame classes hands back every frame raw, as its walk found it.
    frames, raw, rest = read_frames(header, body, {})
    ids = [r[:4].decode("ascii", "replace") for r in raw]
    text = ""
    for r in raw:
        if r[:4] == b"TXXX":
            size = struct.unpack(">I", r[4:8])[0]
            payload = r[10:10 + size]
            if payload[:3] == b"\x01\xff\xfe":
                text = payload[3:].decode("utf-16-le")
    # The whole file must also load as an MP3 with an ID3v2.3 tag.
    ID3(path)
    version = ".".join(str(v) for v in header.version)
    return "\t".join([version, str(header.size), ",".join(ids), text.encode("utf-8").hex(),
                      str(mpeg_frames_in_a_row(f, header.size)), str(len(rest))])


def main():
    command, manifest = sys.argv[1], sys.argv[2]
    with open(manifest, encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f if line.strip()]
    for line in lines:
        fields = line.split("\t")
        if command == "make":
            fields += [""] * (6 - len(fields))
            texts = [bytes.fromhex(x).decode("utf-8") for x in fields[2:6]]
            make_one(fields[0], fields[1], *texts)
            print("made", fields[1])
        elif command == "check-player":
            print(check_player(fields[0]))
        elif command == "check-frames":
            path, offset = fields[0], int(fields[1])
            with open(path, "rb") as g:
                print(mpeg_frames_in_a_row(g, offset))
        else:
            raise ValueError("unknown command " + command)


if __name__ == "__main__":
    main()
