#!/usr/bin/env python3
"""A local ICY station for screenshots and demonstrations.

Serves one MP3 file, over and over, with in-band titles, to every request it
gets, so that it can stand in as the proxy of the environment for any
station address. Usage: local_station.py PORT FILE.mp3 "Station name"
"""
import socket
import sys
import threading
import time

METAINT = 8192


def serve(connection, audio, name):
    request = b""
    while b"\r\n\r\n" not in request:
        data = connection.recv(4096)
        if not data:
            return
        request += data
    head = ("ICY 200 OK\r\nicy-name:%s\r\nicy-br:128\r\ncontent-type:audio/mpeg\r\n"
            "icy-metaint:%d\r\n\r\n" % (name, METAINT)).encode()
    try:
        connection.sendall(head)
        blocks, position, started = 0, 0, time.time()
        while True:
            chunk = audio[position:position + METAINT]
            if len(chunk) < METAINT:
                position = 0
                continue
            position += METAINT
            connection.sendall(chunk)
            title = b"StreamTitle='Ondalux - Test Tone %d';" % (blocks // 60 + 1)
            units = (len(title) + 15) // 16
            connection.sendall(bytes([units]) + title + b"\0" * (units * 16 - len(title)))
            blocks += 1
            # 128 kbps after a burst of eight blocks, as stations send it.
            if blocks > 8:
                time.sleep(max(0.0, started + (blocks - 8) * METAINT / 16000.0 - time.time()))
    except OSError:
        pass
    finally:
        connection.close()


def main():
    port, path, name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    audio = open(path, "rb").read()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, audio, name), daemon=True).start()


if __name__ == "__main__":
    main()
