#!/usr/bin/env python3
"""A local station directory for screenshots and demonstrations.

Answers every radio-browser search with the same few stations (the most
clicked first, as the real service orders them) and every click count with
"ok", on 127.0.0.1 only. Usage: fake_directory.py PORT
"""
import http.server
import json
import sys

STATIONS = [
    # name, country, code, language, tags, codec, bitrate, votes, clicks
    ("Jazz Radio Berlin", "Germany", "DE", "german", "jazz,smooth jazz", "MP3", 128, 5120, 9841),
    ("Радио Джаз", "The Russian Federation", "RU", "russian", "jazz", "MP3", 192, 2873, 7415),
    ("Smooth Jazz Florida", "The United States Of America", "US", "english", "jazz,smooth",
     "AAC", 64, 3902, 5230),
    ("Jazz FM", "The United Kingdom Of Great Britain And Northern Ireland", "GB", "english",
     "jazz,soul", "AAC+", 48, 1988, 4102),
    ("TSF Jazz", "France", "FR", "french", "jazz", "MP3", 128, 4410, 3988),
    ("Jazz24", "The United States Of America", "US", "english", "jazz", "AAC", 128, 1460, 2775),
    ("Radio Swiss Jazz", "Switzerland", "CH", "german", "jazz,blues", "MP3", 128, 3311, 2514),
    ("Jazz Lounge Kyiv", "Ukraine", "UA", "ukrainian", "jazz,lounge", "OGG", 160, 412, 1820),
    ("Nordic Jazz Live", "Sweden", "SE", "swedish", "jazz,live", "MP3", 256, 207, 933),
    ("Jazz Café Wien", "Austria", "AT", "german", "jazz,cafe", "OPUS", 96, 155, 608),
    ("Bebop Hour", "Netherlands", "NL", "dutch", "jazz,bebop", "MP3", 128, 98, 311),
    ("Джаз Волна", "The Russian Federation", "RU", "russian", "jazz,retro", "MP3", 128, 61, 174),
]


def answer_json():
    entries = []
    for number, (name, country, code, language, tags, codec, bitrate, votes, clicks) in \
            enumerate(STATIONS, 1):
        url = "http://stream%d.radio.example/live.mp3" % number
        entries.append({
            "stationuuid": "00000000-0000-4000-8000-%012d" % number,
            "name": name, "url": url, "url_resolved": url,
            "homepage": "", "favicon": "", "tags": tags,
            "country": country, "countrycode": code, "language": language,
            "votes": votes, "codec": codec, "bitrate": bitrate,
            "lastcheckok": 1, "clickcount": clicks, "clicktrend": 0,
        })
    return json.dumps(entries, ensure_ascii=False).encode("utf-8")


class Directory(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/json/url/"):
            body = b'{"ok":true,"message":"retrieved station url"}'
        else:
            body = answer_json()
        self.send_response(200)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Directory)
    server.serve_forever()


if __name__ == "__main__":
    main()
