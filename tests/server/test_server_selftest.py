#!/usr/bin/env python3
"""Checks the running test server (VX_TEST_SERVER_ROOT) from the outside, as a client does."""

import base64
import http.client
import json
import os
import shutil
import socket
import ssl
import time
import unittest

ROOT = os.environ.get("VX_TEST_SERVER_ROOT", "")
DATA = b"0123456789"


def ports():
    with open(os.path.join(ROOT, "ports.txt"), encoding="ascii") as listing:
        return {name: int(port) for name, port in (line.strip().split("=") for line in listing if line.strip())}


@unittest.skipUnless(ROOT and os.path.exists(os.path.join(ROOT, "ports.txt")), "no running test server")
class TestServerSelfTest(unittest.TestCase):
    def setUp(self):
        self.ports = ports()
        self.ns = f"selftest-{os.getpid()}-{self._testMethodName}"
        self.dir = os.path.join(ROOT, self.ns)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "sub"))
        with open(os.path.join(self.dir, "sub", "data.bin"), "wb") as data:
            data.write(DATA)
        self.addCleanup(shutil.rmtree, self.dir, True)

    def fetch(self, target, method="GET", headers=None, body=None, listener="http", connection=None):
        if connection is None:
            connection = http.client.HTTPConnection("127.0.0.1", self.ports[listener], timeout=10)
            if listener == "https":
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
                connection = http.client.HTTPSConnection("127.0.0.1", self.ports[listener], timeout=10,
                                                         context=context)
            self.addCleanup(connection.close)
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        try:
            content = response.read()
        except http.client.IncompleteRead as short:
            content = b"SHORT:" + short.partial
        return response, content

    def test_answers(self):
        with open(os.path.join(self.dir, "script.json"), "w", encoding="ascii") as script:
            json.dump({"rules": [
                {"match": "counted", "count": 2, "status": 503},
                {"match": "cut", "serve": "sub/data.bin", "close_after": 3},
                {"match": "stalled", "serve": "sub/data.bin", "stall_after": 2, "stall_seconds": 0.3},
                {"match": "open-ended", "method": "GET", "body": "no length", "no_content_length": True},
                {"match": "whole", "serve": "sub/data.bin", "ignore_range": True},
                {"match": "headers", "status": 304, "headers": {"ETag": "\"x\"", "Content-Length": "0"}},
            ]}, script)
        ns, data = f"/{self.ns}", f"/{self.ns}/sub/data.bin"
        cases = [  # target, method, request headers, status, expected response headers, body
            (data, "GET", {}, 200, {"Content-Length": "10", "Content-Type": "application/octet-stream"}, DATA),
            (data, "GET", {"Range": "bytes=2-5"}, 206, {"Content-Range": "bytes 2-5/10"}, b"2345"),
            (data, "GET", {"Range": "bytes=4-10"}, 206, {"Content-Range": "bytes 4-9/10"}, b"456789"),
            (data, "GET", {"Range": "bytes=7-"}, 206, {"Content-Range": "bytes 7-9/10"}, b"789"),
            (data, "GET", {"Range": "bytes=10-"}, 416, {"Content-Range": "bytes */10"}, b""),
            (data, "GET", {"Range": "bytes=6-3"}, 416, {"Content-Range": "bytes */10"}, b""),
            (data, "HEAD", {}, 200, {"Content-Length": "10"}, b""),
            (f"{ns}/sub/missing.bin", "GET", {}, 404, {}, None),
            (f"/vx/clientdatarequest?fileName={ns}/sub/data.bin&x=1", "GET", {}, 200, {}, DATA),
            (f"/vx/{ns}/sub/data.bin", "GET", {}, 200, {}, DATA),
            (f"{ns}/sub/../../{self.ns}/sub/data.bin", "GET", {}, 200, {}, DATA),
            (f"{ns}/../ports.txt", "GET", {}, 404, {}, None),
            (f"{ns}/counted", "GET", {}, 503, {}, b""),
            (f"{ns}/counted", "HEAD", {}, 503, {}, b""),
            (f"{ns}/sub/data.bin?counted", "GET", {}, 200, {}, DATA),
            (f"{ns}/cut", "GET", {}, 200, {"Content-Length": "10"}, b"SHORT:012"),
            (f"{ns}/stalled", "GET", {}, 200, {"Content-Length": "10"}, b"SHORT:01"),
            (f"{ns}/open-ended", "GET", {}, 200, {"Content-Length": None, "Connection": "close"}, b"no length"),
            (f"{ns}/whole", "GET", {"Range": "bytes=2-5"}, 200, {"Content-Range": None}, DATA),
            (f"{ns}/headers", "GET", {}, 304, {"ETag": "\"x\""}, b""),
        ]
        for target, method, request_headers, status, expected_headers, body in cases:
            with self.subTest(target=target, method=method, headers=request_headers):
                started = time.monotonic()
                response, content = self.fetch(target, method, request_headers)
                self.assertEqual(status, response.status)
                for name, value in expected_headers.items():
                    self.assertEqual(value, response.getheader(name))
                if body is not None:
                    self.assertEqual(body, content)
                if "stalled" in target:
                    self.assertGreaterEqual(time.monotonic() - started, 0.3)

    def test_paced_bodies(self):
        # 200,000 bytes at 400,000 B/s: the last piece is due no sooner than about 0.5 s after the first.
        big = bytes((i * 7 + i // 251) & 0xFF for i in range(200000))
        with open(os.path.join(self.dir, "sub", "big.bin"), "wb") as data:
            data.write(big)
        with open(os.path.join(self.dir, "script.json"), "w", encoding="ascii") as script:
            json.dump({"rules": [
                {"match": "big.bin", "rate_bytes_per_second": 400000},
                {"match": "text", "body": "x" * 4000, "rate_bytes_per_second": 8000},
                {"match": "cut", "serve": "sub/big.bin", "rate_bytes_per_second": 400000, "close_after": 100000},
                {"match": "zero", "rate_bytes_per_second": 0},
                {"match": "word", "rate_bytes_per_second": "fast"},
            ]}, script)
        big_path = f"/{self.ns}/sub/big.bin"
        cases = [  # target, request headers, status, body, least and most seconds
            (big_path, {}, 200, big, 0.45, 5.0),
            (big_path, {"Range": "bytes=150000-"}, 206, big[150000:], 0.1, 2.0),
            (f"/{self.ns}/text", {}, 200, b"x" * 4000, 0.45, 5.0),
            (f"/{self.ns}/cut", {}, 200, b"SHORT:" + big[:100000], 0.2, 3.0),
        ]
        for target, request_headers, status, body, least, most in cases:
            with self.subTest(target=target, headers=request_headers):
                started = time.monotonic()
                response, content = self.fetch(target, headers=request_headers)
                elapsed = time.monotonic() - started
                self.assertEqual(status, response.status)
                self.assertEqual(body, content)
                self.assertGreaterEqual(elapsed, least)
                self.assertLess(elapsed, most)
        for target in (f"/{self.ns}/zero", f"/{self.ns}/word"):
            with self.subTest(target=target):
                response, content = self.fetch(target)
                self.assertEqual(500, response.status)
                self.assertIn(b"rate_bytes_per_second must be a positive number", content)

    def test_proxy_demands_credentials_on_one_connection(self):
        target = f"http://127.0.0.1:{self.ports['http']}/{self.ns}/sub/data.bin"
        connection = http.client.HTTPConnection("127.0.0.1", self.ports["proxy"], timeout=10)
        self.addCleanup(connection.close)
        with open(os.path.join(self.dir, "proxy-credentials.txt"), "w", encoding="ascii") as credentials:
            credentials.write("alice:secret\r\n")
        for authorization, status, body in [(None, 407, None), ("alice:wrong", 407, None),
                                            ("proxyuser:proxypass", 407, None), ("alice:secret", 200, DATA)]:
            with self.subTest(authorization=authorization):
                headers = {"Proxy-Authorization": "Basic " + base64.b64encode(authorization.encode()).decode()
                           } if authorization else {}
                response, content = self.fetch(target, headers=headers, connection=connection)
                self.assertEqual(status, response.status)
                if status == 407:
                    self.assertEqual('Basic realm="vx-test"', response.getheader("Proxy-Authenticate"))
                else:
                    self.assertEqual(body, content)
        listeners = [line.split()[2] for line in self.log_lines() if line.startswith("REQUEST ")]
        self.assertEqual(["proxy"] * 4, listeners)

    def test_https(self):
        response, content = self.fetch(f"/{self.ns}/sub/data.bin", listener="https", headers={"Range": "bytes=8-"})
        self.assertEqual((206, b"89"), (response.status, content))

    def test_recording(self):
        with socket.create_connection(("127.0.0.1", self.ports["http"]), timeout=10) as client:
            client.sendall(f"POST /x?to=/{self.ns}/up HTTP/1.1\r\nHost: h\r\nX-Two: a\r\nX-Two: b\r\n"
                           "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                           "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n".encode())
            answer = client.makefile("rb").read()
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 "), answer)
        self.fetch(f"//{self.ns}/sub/data.bin", "HEAD")
        self.assertEqual([
            "REQUEST 1 http", f"POST /x?to=/{self.ns}/up", "Host: h", "X-Two: a", "X-Two: b",
            "Transfer-Encoding: chunked", "Connection: close", "BODY 5", "END",
            "REQUEST 2 http", f"HEAD //{self.ns}/sub/data.bin", "Host: 127.0.0.1:%d" % self.ports["http"],
            "Accept-Encoding: identity", "BODY 0", "END"], self.log_lines())
        with open(os.path.join(self.dir, "body-1.bin"), "rb") as body:
            self.assertEqual(b"abcde", body.read())
        self.assertFalse(os.path.exists(os.path.join(self.dir, "body-2.bin")))

        unmatched = f"/nowhere-{os.getpid()}/a.bin"
        self.assertEqual(404, self.fetch(unmatched)[0].status)
        with open(os.path.join(ROOT, "unmatched.log"), encoding="latin-1") as log:
            self.assertIn(f"GET {unmatched}\n", log.read())

    def log_lines(self):
        with open(os.path.join(self.dir, "requests.log"), encoding="latin-1") as log:
            return log.read().splitlines()


if __name__ == "__main__":
    unittest.main()
