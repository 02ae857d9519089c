#!/usr/bin/python3
"""A reference ringtone creation service for tests and demonstrations.

It takes the ringtone request of Lirrosa's export dialog (and of `lirrosa-cli ringtone
--send`): a form-encoded POST of aqt, song, usedtnt, mailto, phonen (with SMS only),
dvropt, dfs and mps (the base64 melody package, taken as it stands). It checks every
field, decodes the package and answers in the "BEGIN" ... "END" form with the melody's
RTTTL text in "rspmsg", or "rsp=err" and the reason. Nothing is delivered, and no
address or phone number is written anywhere.

It listens on the loopback address only:

    /usr/bin/python3 tools/ringtone-service/reference_service.py [--port N]

prints "listening on http://127.0.0.1:PORT" and serves until interrupted. Point the
program at it with the settings url = "127.0.0.1:PORT" and uri = "/rtc".

The query of the request path asks for other answers (several may be combined):
    answer=ok|err|norsp|garbage|oversized|status500   the kind of page (default ok)
    delay=S        wait S seconds before answering at all
    stall=S        send the headers, then wait S seconds before the page
    dvropt=N       add the key dvropt=N (new delivery options)
    update=TEXT    add the key update=TEXT (a notice)
"""

import argparse
import base64
import http.server
import struct
import sys
import time
import urllib.parse

FIELD_ORDER = ["aqt", "song", "usedtnt", "mailto", "phonen", "dvropt", "dfs", "mps"]
TEMPOS = [25, 28, 31, 35, 40, 45, 50, 56, 63, 70, 80, 90, 100, 112, 125, 140, 160, 180,
          200, 225, 250, 285, 320, 355, 400, 450, 500, 565, 635, 715, 800, 900]
DURATIONS = [1, 2, 4, 8, 16, 32]
NAMES = ["c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"]
STYLES = "ncs"


class RequestError(Exception):
    pass


def split_fields(body):
    """The fields in body order; values as sent (the package keeps its line breaks)."""
    fields = []
    for part in body.split("&"):
        key, sep, value = part.partition("=")
        if not sep:
            raise RequestError("the field '%s' has no value" % key[:20])
        fields.append((key, value))
    return fields


def decode_package(text):
    data = text.replace("\r\n", "").rstrip("=")
    if "\r" in data or "\n" in data:
        raise RequestError("mps: a line break that is not CR LF")
    data += "=" * (-len(data) % 4)
    try:
        package = base64.b64decode(data, validate=True)
    except ValueError:
        raise RequestError("mps: not base64")
    if len(package) < 40:
        raise RequestError("mps: the package is shorter than 40 bytes")
    song_size, = struct.unpack_from("<i", package, 0)
    ringtone_size, = struct.unpack_from("<i", package, 24)
    count, = struct.unpack_from("<i", package, 36)
    if song_size != 20 or ringtone_size != 8:
        raise RequestError("mps: the block sizes are not 20 and 8")
    if count < 1 or len(package) != 40 + 6 * count:
        raise RequestError("mps: %d bytes do not hold %d notes" % (len(package), count))
    song = struct.unpack_from("<ihhhBBBBbBb", package, 4)
    ringtone = struct.unpack_from("<BBBBbbBB", package, 28)
    notes = [struct.unpack_from("<hhBB", package, 40 + 6 * i) for i in range(count)]
    return {"tpqn": song[0], "ringtone": ringtone, "notes": notes}


def parse_defaults(digits, count):
    """d index, o index, tempo, style index and loop of the dfs digits."""
    suffix = str(count)
    if not digits.isdigit() or not digits.endswith(suffix) or len(digits) != 8 + len(suffix):
        raise RequestError("dfs: '%s' is not the defaults of %d notes" % (digits[:30], count))
    d, o, tempo, style, loop = int(digits[0]), int(digits[1]), int(digits[2:5]), int(digits[5]), int(digits[6:8])
    if d >= len(DURATIONS) or tempo not in TEMPOS or style >= len(STYLES):
        raise RequestError("dfs: duration, tempo or style out of range in '%s'" % digits)
    return d, o, tempo, style, loop


def check_request(body):
    fields = split_fields(body)
    keys = [key for key, _ in fields]
    expected = [key for key in FIELD_ORDER if key != "phonen" or "phonen" in keys]
    if keys != expected:
        raise RequestError("the fields are %s, not %s" % (",".join(keys)[:80], ",".join(expected)))
    values = dict(fields)
    if values["aqt"] != "rtc":
        raise RequestError("aqt is not rtc")
    song = urllib.parse.unquote(values["song"])
    if not song or len(song) > 15:
        raise RequestError("song: the name must have 1 to 15 characters")
    if values["usedtnt"] not in ("0", "1"):
        raise RequestError("usedtnt is not 0 or 1")
    if not values["dvropt"].isdigit() or not 1 <= int(values["dvropt"]) <= 7:
        raise RequestError("dvropt is not 1 to 7")
    options = int(values["dvropt"])
    mail = urllib.parse.unquote(values["mailto"])
    if options & 3 and mail.find("@") < 1:
        raise RequestError("mailto is not an e-mail address")
    if (options & 4 != 0) != ("phonen" in values):
        raise RequestError("phonen must come exactly with SMS delivery")
    if "phonen" in values and (len(values["phonen"]) < 8 or not values["phonen"].isdigit()):
        raise RequestError("phonen is not a phone number of at least 8 digits")
    package = decode_package(values["mps"])
    defaults = parse_defaults(values["dfs"], len(package["notes"]))
    return song, defaults, package, options, values["usedtnt"] == "1"


def rtttl_text(song, defaults, package):
    """The service's own RTTTL text: each length as the nearest note value."""
    d, o, tempo, style, loop = defaults
    whole = 4 * package["tpqn"]
    shift = package["ringtone"][5]
    default_duration, default_octave = DURATIONS[d], min(o, 3) + 4

    def value(ticks):
        return min(DURATIONS, key=lambda v: abs(whole / v - ticks))

    def command(duration, name, octave):
        return ("" if duration == default_duration else str(duration)) + name + \
               ("" if octave == default_octave else str(octave))

    commands = []
    for i, (gap, duration, note, _velocity) in enumerate(package["notes"]):
        if i > 0 and gap > whole // 64:
            commands.append(command(value(gap), "p", default_octave))
        pitch = note + 12 * shift
        while pitch < 48:
            pitch += 12
        while pitch > 95:
            pitch -= 12
        commands.append(command(value(duration), NAMES[pitch % 12], pitch // 12))
    name = "".join(c for c in song if c not in ":,")
    section = "d=%d,o=%d,b=%d,s=%s,l=%d" % (default_duration, default_octave, tempo, STYLES[style], loop)
    return "%s:%s:%s" % (name, section, ",".join(commands))


def answer_lines(body, query):
    kind = query.get("answer", "ok")
    if kind == "norsp":
        lines = ["rspmsg=No result code"]
    elif kind == "err":
        lines = ["rsp=err", "rspmsg=The ringtone cannot be created now.##Please try again later."]
    else:
        try:
            song, defaults, package, options, dotted = check_request(body)
            forms = [form for bit, form in ((1, "RTTTL"), (2, "MIDI")) if options & bit]
            ways = (["e-mail (" + " and ".join(forms) + ")"] if forms else []) + (["SMS"] if options & 4 else [])
            lines = ["rsp=ok", "rspmsg=" + rtttl_text(song, defaults, package),
                     "rspmsg1=Delivery by " + " and ".join(ways) + (", dotted notes allowed" if dotted else "")]
        except RequestError as error:
            lines = ["rsp=err", "rspmsg=The request is not valid:##" + str(error)]
    if "dvropt" in query:
        lines.append("dvropt=" + query["dvropt"])
    if "update" in query:
        lines.append("update=" + query["update"])
    return lines


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "LirrosaReferenceService/1"

    def log_message(self, format, *args):
        pass  # requests carry addresses and phone numbers: nothing is logged

    def do_GET(self):
        self.send_error(405, "Ringtone requests are POSTed")

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("latin-1")
        time.sleep(float(query.get("delay", "0")))
        kind = query.get("answer", "ok")
        if kind == "status500":
            self.send_error(500, "Service failure on demand")
            return
        if self.headers.get("Content-Type") != "application/x-www-form-urlencoded":
            page = b"BEGIN\nrsp=err\r\nrspmsg=The request is not form-encoded\r\nEND"
        elif kind == "garbage":
            page = b"<html><body>Service page that is no answer</body></html>"
        elif kind == "oversized":
            page = b"BEGIN\nrsp=ok\r\nrspmsg=" + b"x" * (3 << 20) + b"\r\nEND"
        else:
            page = ("BEGIN\n" + "\r\n".join(answer_lines(body, query)) + "\r\nEND\r\n").encode("latin-1", "replace")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=iso-8859-1")
        self.send_header("Content-Length", str(len(page)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.flush()
        time.sleep(float(query.get("stall", "0")))
        try:
            self.wfile.write(page)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (default: any free one)")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    print("listening on http://127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
