"""Serves each web example on loopback and drives it in headless Chromium through Selenium.

    python3 examples/browser_check.py OUTPUT_DIR

For every application and backend, in a browser with a fresh profile: sign in
through the application's form and see the session sent back; read the
cookie's HttpOnly, Secure and SameSite flags as the browser stored them;
find the largest session the server accepts, see the browser keep it and send
it back, and see one byte more refused on the server while the browser keeps
the previous session; follow a link as a navigation; change the cookie in
the browser (DevTools protocol) and see the generic refusal. Prints one line
per application and backend, and leaves a screenshot of each signed-in page
in OUTPUT_DIR.
"""

from __future__ import annotations

import logging
import os
import re
import socket
import sys
import tempfile
import threading
import time
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path
from socketserver import ThreadingMixIn
from typing import Any
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer, make_server
from wsgiref.types import WSGIApplication

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException, WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from tessarils_web import generate_key_entry
from tessarils_web.keys import BACKENDS

KEYS_ENV = "APP_KEYS"

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]
FETCH = """
const [path, fields, done] = arguments;
const headers = {};
const csrf = document.cookie.split("; ").find(cookie => cookie.startsWith("csrftoken="));
if (csrf) headers["X-CSRFToken"] = csrf.slice("csrftoken=".length);  // Django's CSRF protection
fetch(path, {method: "POST", headers, body: new URLSearchParams(fields)})
    .then(response => response.text().then(text => done([response.status, text])))
    .catch(error => done([0, String(error)]));
"""


class CheckFailed(Exception):
    pass


def expect(condition: bool, what: str) -> None:
    if not condition:
        raise CheckFailed(what)


@dataclass(frozen=True)
class Example:
    name: str
    cookie: str
    serve: Callable[[str], Any]  # key entries -> a context manager yielding the base URL
    link_request: tuple[str, dict[str, str]]
    link_opens: str  # how the page a link opens begins
    link_from: Callable[[str], str] = lambda reply: reply  # the link, from the reply to its request


class Refusals(logging.Handler):
    """Keeps what the applications log about refused cookies and links."""

    def __init__(self) -> None:
        super().__init__(logging.WARNING)
        self.messages: list[str] = []

    def emit(self, record: logging.LogRecord) -> None:
        if " refused" in record.getMessage():
            self.messages.append(record.getMessage())


class QuietHandler(WSGIRequestHandler):
    def log_message(self, format: str, *args: Any) -> None:
        pass


class ThreadingWSGIServer(ThreadingMixIn, WSGIServer):
    daemon_threads = True


@contextmanager
def serve_wsgi(app: WSGIApplication) -> Iterator[str]:
    with make_server("127.0.0.1", 0, app, server_class=ThreadingWSGIServer, handler_class=QuietHandler) as server:
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            yield f"http://127.0.0.1:{server.server_port}"
        finally:
            server.shutdown()
            thread.join()


@contextmanager
def serve_flask(keys: str) -> Iterator[str]:
    from flask_app import create_app

    with serve_wsgi(create_app(keys)) as base:
        yield base


@contextmanager
def serve_django(keys: str) -> Iterator[str]:
    os.environ.setdefault("DJANGO_SETTINGS_MODULE", "django_app.settings")
    import django
    from django.core.wsgi import get_wsgi_application
    from django.test import override_settings

    from tessarils_web import Keyring

    django.setup()
    locmem = {"default": {"BACKEND": "django.core.mail.backends.locmem.EmailBackend"}}
    with override_settings(TESSARILS_KEYRING=Keyring.from_entries(keys), MAILERS=locmem), \
            serve_wsgi(get_wsgi_application()) as base:
        yield base


def mailed_link(reply: str) -> str:
    """The reset link, which Django's example sends by e-mail and never puts in its reply."""
    from django.core import mail

    expect("reset link is on its way" in reply and "token=" not in reply, f"the link is not in the reply: {reply}")
    found = re.search(r"https?://\S+", mail.outbox.pop().body)  # type: ignore[attr-defined]
    expect(found is not None, "the reset e-mail holds a link")
    assert found is not None
    return found[0]


@contextmanager
def serve_starlette(keys: str) -> Iterator[str]:
    import uvicorn

    from starlette_app import create_app

    sock = socket.create_server(("127.0.0.1", 0))
    server = uvicorn.Server(uvicorn.Config(create_app(keys), log_level="warning", access_log=False))
    thread = threading.Thread(target=server.run, kwargs={"sockets": [sock]}, daemon=True)
    thread.start()
    while not server.started:
        time.sleep(0.01)
    try:
        yield f"http://127.0.0.1:{sock.getsockname()[1]}"
    finally:
        server.should_exit = True
        thread.join()
        sock.close()


EXAMPLES = [
    Example("flask", "session", serve_flask, ("/email", {"email": "ada@example.com"}), "confirmed ada@example.com for ada"),
    Example("django", "sessionid", serve_django, ("/password-reset", {"user": "ada"}), "choose a new password for ada",
            mailed_link),
    Example("starlette", "session", serve_starlette, ("/email", {"email": "ada@example.com"}),
            "confirmed ada@example.com for ada"),
]


class Browser:
    def __init__(self, driver: webdriver.Chrome) -> None:
        self.driver = driver

    def page(self, url: str) -> str:
        self.driver.get(url)
        return self.text()

    def text(self) -> str:
        try:
            return str(self.driver.find_element(By.TAG_NAME, "body").text).strip()
        except WebDriverException as error:
            # Chromium reports a body replaced while it is read as this
            # inspector error, too, not only as a stale element.
            if "does not belong to the document" in str(error.msg):
                raise StaleElementReferenceException(error.msg) from error
            raise

    def post(self, path: str, fields: dict[str, str]) -> tuple[int, str]:
        status, text = self.driver.execute_async_script(FETCH, path, fields)
        return int(status), str(text).strip()

    def cookie(self, base: str, name: str) -> dict[str, Any] | None:
        cookies = self.driver.execute_cdp_cmd("Network.getCookies", {"urls": [base]})["cookies"]
        return next((cookie for cookie in cookies if cookie["name"] == name), None)


def session_bytes(reply: str) -> int:
    found = re.fullmatch(r"the session holds (\d+) bytes of JSON", reply)
    expect(found is not None, f"a session size, not {reply!r}")
    assert found is not None
    return int(found[1])


def check(browser: Browser, example: Example, backend_name: str, refusals: Refusals, output: Path) -> str:
    with example.serve(generate_key_entry(backend_name)) as base:
        browser.driver.execute_cdp_cmd("Network.clearBrowserCookies", {})

        browser.page(f"{base}/login")
        browser.driver.find_element(By.ID, "user").send_keys("ada")
        browser.driver.find_element(By.ID, "submit").click()
        # The form's page goes away while the answer loads: its body can vanish under the wait.
        WebDriverWait(browser.driver, 10, ignored_exceptions=(NoSuchElementException, StaleElementReferenceException)) \
            .until(lambda driver: browser.text() == "signed in as ada")
        expect(browser.page(f"{base}/") == "hello, ada", "the session is sent back")
        browser.driver.save_screenshot(str(output / f"{example.name}-{backend_name.lower()}-signed-in.png"))
        stored = browser.cookie(base, example.cookie)
        expect(stored is not None, "the browser keeps the session cookie")
        assert stored is not None
        flags = f"HttpOnly={stored['httpOnly']} Secure={stored['secure']} SameSite={stored.get('sameSite')}"
        expect((stored["httpOnly"], stored["secure"], stored.get("sameSite")) == (True, True, "Lax"), flags)

        # The largest note the server stores, by bisection; then stored again,
        # in other letters, so that the browser holds exactly that session.
        low, high = 0, 4096
        while low < high:
            middle = (low + high + 1) // 2
            status, _ = browser.post("/note", {"note": "x" * middle})
            low, high = (middle, high) if status == 200 else (low, middle - 1)
        status, reply = browser.post("/note", {"note": "y" * low})
        expect(status == 200, "the largest session is stored again")
        largest = session_bytes(reply)
        kept = browser.cookie(base, example.cookie)
        expect(kept is not None, "the browser keeps the largest session")
        assert kept is not None
        expect(session_bytes(browser.page(f"{base}/note")) == largest, "the browser sends the largest session back")
        status, _ = browser.post("/note", {"note": "z" * (low + 1)})
        expect(status == 500, f"one byte more is refused on the server, not answered {status}")
        expect(browser.cookie(base, example.cookie) == kept, "the browser keeps the previous cookie")
        expect(session_bytes(browser.page(f"{base}/note")) == largest, "the previous session is still sent back")

        status, reply = browser.post(*example.link_request)
        expect(status == 200, "a link is issued")
        link = example.link_from(reply)
        expect(browser.page(link).startswith(example.link_opens), f"the link opens as a navigation: {link}")

        value = kept["value"]
        i = value.rfind(".") + 2  # inside the ciphertext field
        changed = value[:i] + ("B" if value[i] == "A" else "A") + value[i + 1:]
        del refusals.messages[:]
        browser.driver.execute_cdp_cmd("Network.setCookie", {
            "name": example.cookie, "value": changed, "url": base, "path": "/",
            "httpOnly": True, "secure": True, "sameSite": "Lax"})
        expect(browser.page(f"{base}/") == "not signed in", "a changed cookie gets the generic answer")
        expect(refusals.messages == ["session cookie refused (TamperedToken): the data has been modified"],
               f"the server logs why: {refusals.messages}")

    return (f"{example.name} ({backend_name}): largest accepted session {largest} bytes of JSON; "
            f"cookie kept by the browser {kept['size']} bytes (value {len(value)} characters); "
            f"one byte more refused on the server, previous session kept; {flags}; "
            f"link opened; changed cookie refused")


def main() -> int:
    output = Path(sys.argv[1] if len(sys.argv) > 1 else "build/web")
    output.mkdir(parents=True, exist_ok=True)
    os.environ.setdefault(KEYS_ENV, generate_key_entry("XCHACHA20_POLY1305"))  # Django's settings read it once
    refusals = Refusals()
    logging.getLogger().addHandler(refusals)
    logging.getLogger().setLevel(logging.WARNING)
    logging.lastResort = None  # the refusals provoked here are expected; failures are printed below

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    with tempfile.TemporaryDirectory(prefix="chromium-profile-") as profile:
        for flag in [*CHROMIUM_FLAGS, f"--user-data-dir={profile}"]:
            options.add_argument(flag)
        driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
        try:
            print(f"browser: Chromium {driver.capabilities['browserVersion']}, headless, fresh profile")
            browser = Browser(driver)
            for example in EXAMPLES:
                for backend_name in BACKENDS:
                    try:
                        print(check(browser, example, backend_name, refusals, output), flush=True)
                    except CheckFailed as failure:
                        print(f"{example.name} ({backend_name}): FAILED: {failure}", flush=True)
                        return 1
        finally:
            driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
