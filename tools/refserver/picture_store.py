"""The reference server's picture store: one record per issued ImageID, the received bytes of each
picture in a file of its own, and a JSON index of all records, so that tests can find a picture by
the client's filename and a restarted server still answers offsets for what it held.

Layout under the store folder:
  index.json          {"images": {ImageID: record}}, rewritten whole (via a temporary file) after
                      every change
  images/<ImageID>    the bytes received so far, exactly; complete when record["complete"]

All methods may be called from any handler thread; `_lock` guards the records and the files.
"""

import json
import os
import secrets
import threading
import time

INDEX_NAME = "index.json"
IMAGES_DIR = "images"


class Image:
    """One issued ImageID and what the server holds of its picture."""

    FIELDS = (
        "image_id", "token", "server", "authentication_id", "session_id", "uid",
        "filename", "filesize", "received", "complete", "uploads", "created", "updated",
    )

    def __init__(self, **values):
        self.image_id = values["image_id"]
        self.token = values.get("token", "")
        self.server = values.get("server", "")
        self.authentication_id = values.get("authentication_id", "")
        self.session_id = values.get("session_id", "")
        self.uid = values.get("uid", "")
        self.filename = values.get("filename")  # the client's path, known from the first upload
        self.filesize = values.get("filesize")  # declared size, known from the first upload
        self.received = values.get("received", 0)
        self.complete = values.get("complete", False)
        self.uploads = values.get("uploads", 0)  # UploadImage requests that stored bytes
        self.created = values.get("created", time.time())
        self.updated = values.get("updated", self.created)

    def as_json(self):
        record = {name: getattr(self, name) for name in self.FIELDS}
        record["path"] = f"{IMAGES_DIR}/{self.image_id}"
        return record


class PictureStore:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self._lock = threading.Lock()
        self._images = {}
        os.makedirs(os.path.join(self.root, IMAGES_DIR), exist_ok=True)
        self._load()

    def _data_path(self, image_id):
        return os.path.join(self.root, IMAGES_DIR, image_id)

    def _load(self):
        """Takes over the records of an earlier run. A data file longer than its record (a write that
        the index never confirmed) is cut back to the recorded count; a shorter one lowers the count."""
        path = os.path.join(self.root, INDEX_NAME)
        try:
            with open(path, encoding="utf-8") as f:
                images = json.load(f)["images"]
        except FileNotFoundError:
            return
        except (ValueError, KeyError, TypeError) as e:
            raise ValueError(f"{path}: not a picture index ({e})") from e
        for image_id, record in images.items():
            values = {k: record[k] for k in Image.FIELDS if k in record}
            image = Image(**values)
            data_path = self._data_path(image_id)
            size = os.path.getsize(data_path) if os.path.exists(data_path) else 0
            if size > image.received:
                with open(data_path, "r+b") as f:
                    f.truncate(image.received)
            elif size < image.received:
                image.received = size
                image.complete = image.filesize is not None and size == image.filesize
            self._images[image_id] = image

    def _save_locked(self):
        path = os.path.join(self.root, INDEX_NAME)
        temporary = path + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump({"images": {k: v.as_json() for k, v in self._images.items()}}, f, indent=1, sort_keys=True)
            f.write("\n")
        os.replace(temporary, path)

    def issue(self, server, authentication_id, session_id, uid):
        """A new ImageID with its cookie token, for a picture to be sent to `server`."""
        with self._lock:
            image_id = "IMG" + secrets.token_hex(6).upper()
            while image_id in self._images:
                image_id = "IMG" + secrets.token_hex(6).upper()
            image = Image(
                image_id=image_id, token=secrets.token_hex(12), server=server,
                authentication_id=authentication_id, session_id=session_id, uid=uid,
            )
            self._images[image_id] = image
            open(self._data_path(image_id), "wb").close()
            self._save_locked()
            return Image(**image.as_json())

    def get(self, image_id):
        """A copy of the record, or None."""
        with self._lock:
            image = self._images.get(image_id)
            return None if image is None else Image(**image.as_json())

    def append(self, image_id, filename, filesize, offset, data):
        """Appends `data` at `offset` after checking, under the lock, that the offset is what the store
        holds and that the total stays within `filesize`. Returns the updated copy, or raises
        StoreConflict with the error code and text for the reply."""
        with self._lock:
            image = self._images.get(image_id)
            if image is None:
                raise StoreConflict(3, f"unknown ImageID {image_id}")
            if image.filesize is not None and image.filesize != filesize:
                raise StoreConflict(2, f"filesize {filesize} differs from {image.filesize} declared earlier for ImageID {image_id}")
            if offset != image.received:
                raise StoreConflict(5, f"Offset {offset} does not match the {image.received} bytes held for ImageID {image_id}")
            if offset + len(data) > filesize:
                raise StoreConflict(
                    4, f"{len(data)} bytes at offset {offset} exceed the declared filesize {filesize} of ImageID {image_id}"
                )
            with open(self._data_path(image_id), "ab") as f:
                if f.tell() != offset:
                    f.truncate(offset)
                f.write(data)
            image.filename = filename
            image.filesize = filesize
            image.received = offset + len(data)
            image.complete = image.received == filesize
            image.uploads += 1
            image.updated = time.time()
            self._save_locked()
            return Image(**image.as_json())

    def data(self, image_id):
        with self._lock:
            with open(self._data_path(image_id), "rb") as f:
                return f.read()

    def as_json(self):
        with self._lock:
            return {k: v.as_json() for k, v in self._images.items()}


class StoreConflict(Exception):
    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message
