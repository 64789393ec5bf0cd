#!/usr/bin/env python3
"""A small Nextcloud server for the real-client test, on 127.0.0.1.

It answers what the desktop client asks while it sets up an account and
syncs: status.php, the OCS user and capabilities answers, and WebDAV
(PROPFIND, GET, PUT, MKCOL, MOVE, DELETE) over a folder on disk, so that the
test adds a file "on the server" by writing into that folder. PUT and GET are
slowed down (--delay seconds) so that a transfer lasts long enough to be
seen. One user, one app password, basic authentication.

Usage: fake_nextcloud_server.py ROOT USER PASSWORD PORT_FILE [--delay S]
The chosen port is written to PORT_FILE once the server listens; every
request is printed on standard error.
"""

import base64
import email.utils
import hashlib
import http.server
import json
import os
import shutil
import sys
import threading
import time
import urllib.parse
from xml.sax.saxutils import escape

ROOT, USER, PASSWORD, PORT_FILE = sys.argv[1:5]
DELAY = float(sys.argv[sys.argv.index("--delay") + 1]) if "--delay" in sys.argv else 0.0
DAV_PREFIXES = ("/remote.php/dav/files/%s" % USER, "/remote.php/webdav")
LOCK = threading.Lock()  # one change of the tree at a time


def etag_of(path):
    """Changes whenever the item, or for a folder anything below it, does."""
    digest = hashlib.sha1()
    if os.path.isdir(path):
        for folder, folders, files in os.walk(path):
            folders.sort()
            for name in sorted(files) + folders:
                st = os.stat(os.path.join(folder, name))
                digest.update(("%s/%s %d %d\n" % (folder, name, st.st_mtime_ns, st.st_size)).encode())
    st = os.stat(path)
    digest.update(("%d %d" % (st.st_mtime_ns, st.st_size)).encode())
    return digest.hexdigest()[:16]


def file_id(path):
    return os.stat(path).st_ino


def http_date(seconds):
    return email.utils.formatdate(seconds, usegmt=True)


def ocs(data):
    return {"ocs": {"meta": {"status": "ok", "statuscode": 100, "message": "OK"}, "data": data}}


CAPABILITIES = {
    "version": {"major": 25, "minor": 0, "micro": 0, "string": "25.0.0", "edition": "", "extendedSupport": False},
    "capabilities": {
        "core": {"webdav-root": "remote.php/webdav"},
        "dav": {"chunking": "1.0"},
        "files": {"bigfilechunking": False, "versioning": False, "undelete": False},
        "checksums": {"supportedTypes": [], "preferredUploadType": ""},
    },
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("server: %s\n" % (fmt % args))

    # -- answers

    def send(self, code, body=b"", content_type="text/plain", headers=None):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_json(self, value):
        self.send(200, json.dumps(value, separators=(",", ":")), "application/json; charset=utf-8")

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def authorised(self):
        expected = "Basic " + base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
        if self.headers.get("Authorization") == expected:
            return True
        self.read_body()
        self.send(401, "", headers={"WWW-Authenticate": 'Basic realm="Nextcloud"'})
        return False

    def local_path(self, url_path):
        """The file on disk for a WebDAV path, or None outside the user's tree."""
        path = urllib.parse.unquote(urllib.parse.urlsplit(url_path).path)
        for prefix in DAV_PREFIXES:
            if path == prefix or path.startswith(prefix + "/"):
                relative = path[len(prefix):].strip("/")
                full = os.path.normpath(os.path.join(ROOT, relative))
                if full == ROOT or full.startswith(ROOT + os.sep):
                    return full, prefix
        return None, None

    def dav_target(self, missing=404):
        """The file on disk this request names, with the DAV prefix used; (None, None)
        once the request has been answered (`missing` outside the tree, 401 without
        the password)."""
        full, prefix = self.local_path(self.path)
        if full is None:
            self.read_body()
            self.send(missing)
            return None, None
        if not self.authorised():
            return None, None
        return full, prefix

    # -- verbs

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/status.php":
            return self.send_json({"installed": True, "maintenance": False, "needsDbUpgrade": False,
                                   "version": "25.0.0.0", "versionstring": "25.0.0", "edition": "",
                                   "productname": "Nextcloud", "extendedSupport": False})
        if path.startswith("/ocs/"):
            if not self.authorised():
                return
            if path.endswith("/cloud/capabilities"):
                return self.send_json(ocs(CAPABILITIES))
            if path.endswith("/cloud/user"):
                return self.send_json(ocs({"id": USER, "display-name": USER, "email": "",
                                           "quota": {"free": -3, "used": 0, "total": -3, "relative": 0}}))
            return self.send(404, json.dumps(ocs([])), "application/json")
        full, _ = self.dav_target()
        if full is None:
            return
        if not os.path.isfile(full):
            return self.send(404)
        time.sleep(DELAY)
        with open(full, "rb") as f:
            body = f.read()
        st = os.stat(full)
        self.send(200, body, "application/octet-stream",
                  {"ETag": '"%s"' % etag_of(full), "OC-ETag": '"%s"' % etag_of(full),
                   "Last-Modified": http_date(st.st_mtime)})

    do_HEAD = do_GET

    def do_PROPFIND(self):
        full, prefix = self.dav_target()
        if full is None:
            return
        self.read_body()
        if not os.path.exists(full):
            return self.send(404)
        entries = [full]
        if os.path.isdir(full) and self.headers.get("Depth", "1") != "0":
            entries += [os.path.join(full, name) for name in sorted(os.listdir(full))]
        responses = "".join(self.propfind_entry(entry, prefix) for entry in entries)
        body = ('<?xml version="1.0"?>\n<d:multistatus xmlns:d="DAV:" xmlns:s="http://sabredav.org/ns" '
                'xmlns:oc="http://owncloud.org/ns" xmlns:nc="http://nextcloud.org/ns">%s</d:multistatus>'
                % responses)
        self.send(207, body, "application/xml; charset=utf-8")

    def propfind_entry(self, entry, prefix):
        st = os.stat(entry)
        relative = os.path.relpath(entry, ROOT)
        href = prefix + "/" + ("" if relative == "." else urllib.parse.quote(relative))
        is_folder = os.path.isdir(entry)
        if is_folder and not href.endswith("/"):
            href += "/"
        props = ["<d:getlastmodified>%s</d:getlastmodified>" % http_date(st.st_mtime),
                 '<d:getetag>"%s"</d:getetag>' % etag_of(entry),
                 "<oc:id>%08docfake</oc:id>" % file_id(entry),
                 "<oc:fileid>%d</oc:fileid>" % file_id(entry),
                 "<oc:permissions>%s</oc:permissions>" % ("RGDNVCK" if is_folder else "RGDNVW"),
                 "<oc:owner-id>%s</oc:owner-id>" % USER,
                 "<oc:owner-display-name>%s</oc:owner-display-name>" % USER,
                 "<oc:data-fingerprint></oc:data-fingerprint>",
                 "<nc:has-preview>false</nc:has-preview>"]
        if is_folder:
            props += ["<d:resourcetype><d:collection/></d:resourcetype>",
                      "<oc:size>%d</oc:size>" % st.st_size,
                      "<d:quota-available-bytes>-3</d:quota-available-bytes>",
                      "<d:quota-used-bytes>0</d:quota-used-bytes>"]
        else:
            props += ["<d:resourcetype/>",
                      "<d:getcontentlength>%d</d:getcontentlength>" % st.st_size,
                      "<d:getcontenttype>application/octet-stream</d:getcontenttype>",
                      "<oc:size>%d</oc:size>" % st.st_size]
        return ("<d:response><d:href>%s</d:href><d:propstat><d:prop>%s</d:prop>"
                "<d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>"
                % (escape(href), "".join(props)))

    def do_PUT(self):
        full, _ = self.dav_target()
        if full is None:
            return
        body = self.read_body()
        time.sleep(DELAY)
        if not os.path.isdir(os.path.dirname(full)):
            return self.send(409)
        with LOCK:
            existed = os.path.exists(full)
            partial = full + ".upload-part"
            with open(partial, "wb") as f:
                f.write(body)
            mtime = self.headers.get("X-OC-Mtime")
            if mtime:
                os.utime(partial, (float(mtime), float(mtime)))
            os.replace(partial, full)
        tag = '"%s"' % etag_of(full)
        headers = {"ETag": tag, "OC-ETag": tag, "OC-FileId": "%08docfake" % file_id(full)}
        if mtime:
            headers["X-OC-MTime"] = "accepted"
        self.send(204 if existed else 201, "", headers=headers)

    def do_MKCOL(self):
        full, _ = self.dav_target()
        if full is None:
            return
        self.read_body()
        if os.path.exists(full):
            return self.send(405)
        os.mkdir(full)
        self.send(201, "", headers={"OC-FileId": "%08docfake" % file_id(full),
                                    "OC-ETag": '"%s"' % etag_of(full)})

    def do_DELETE(self):
        full, _ = self.dav_target(missing=403)
        if full is None:
            return
        if full == ROOT:
            return self.send(403)
        if not os.path.exists(full):
            return self.send(404)
        with LOCK:
            shutil.rmtree(full) if os.path.isdir(full) else os.unlink(full)
        self.send(204)

    def do_MOVE(self):
        full, _ = self.local_path(self.path)
        target, _ = self.local_path(self.headers.get("Destination", ""))
        if full is None or target is None:
            return self.send(403)
        if not self.authorised():
            return
        if not os.path.exists(full):
            return self.send(404)
        with LOCK:
            existed = os.path.exists(target)
            os.replace(full, target)
        tag = '"%s"' % etag_of(target)
        self.send(204 if existed else 201, "", headers={"ETag": tag, "OC-ETag": tag,
                                                        "OC-FileId": "%08docfake" % file_id(target)})

    def do_POST(self):
        self.read_body()
        self.send(404)


def main():
    os.makedirs(ROOT, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(PORT_FILE + ".part", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(PORT_FILE + ".part", PORT_FILE)
    server.serve_forever()


if __name__ == "__main__":
    main()
