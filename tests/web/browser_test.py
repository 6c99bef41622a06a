#!/usr/bin/env python3
"""The page in a real browser: headless Chromium, driven through chromedriver, opens web/ from
a local static server, puts a WAV file through the page's file input and downloads the ACM
file (it must be vellox's, byte for byte, for the command line the page shows, with vellox's
and velloxdec --compare's report lines), puts an ACM file through and downloads the WAV file
(velloxdec's, byte for byte), and is refused a file of another format. The page must ask for
nothing but its own files. A screenshot after the encode is kept.

usage: browser_test.py [native build directory] [screenshot path]"""

import functools
import http.server
import json
import math
import os
import random
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WEB = os.path.join(ROOT, "web")
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/release"))
SCREENSHOT = os.path.abspath(
    sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build/web/page-after-encode.png"))
PAGE_FILES = {"/", "/index.html", "/page.js", "/page.css", "/worker.js", "/vellox.js",
              "/favicon.svg"}
WAIT = 120  # seconds any step may take on a loaded machine

failures = []
passed = 0


def check(condition, what):
    global passed
    if condition:
        passed += 1
        print("ok   " + what)
    else:
        failures.append(what)
        print("FAIL " + what)


class Server(http.server.ThreadingHTTPServer):
    """Serves web/ as python3 -m http.server does, and keeps every path asked for."""

    def __init__(self):
        self.paths = []
        handler = functools.partial(self.Handler, directory=WEB)
        super().__init__(("127.0.0.1", 0), handler)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            self.server.paths.append(self.path)


def write_wav(path, channels, rate, frames):
    """Music-like material: two tones that glide, a beat and some noise."""
    generator = random.Random(20)
    data = bytearray()
    for i in range(frames):
        t = i / rate
        for channel in range(channels):
            value = (9000 * math.sin(2 * math.pi * (220 + 40 * t) * t + channel) +
                     5000 * math.sin(2 * math.pi * 1375 * t) * (1 if int(t * 4) % 2 else 0.3) +
                     generator.uniform(-600, 600))
            data += struct.pack("<h", max(-32768, min(32767, int(value))))
    with wave.open(path, "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(data))


def run(program, *args):
    result = subprocess.run([os.path.join(BUILD, program), *args], capture_output=True,
                            text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError(program + " failed: " + result.stdout + result.stderr)
    return result.stdout


def start_browser(downloads, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    # Headless as root, and nothing that would reach for the network on its own.
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--autoplay-policy=no-user-gesture-required", "--window-size=1100,1400",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    options.add_experimental_option("prefs", {
        "download.default_directory": downloads, "download.prompt_for_download": False,
    })
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    service = Service(executable_path=shutil.which("chromedriver") or "/usr/bin/chromedriver")
    driver = webdriver.Chrome(service=service, options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    return driver


def finished(driver):
    return int(driver.find_element(By.TAG_NAME, "body").get_attribute("data-finished") or 0)


def act(driver, action):
    """Does action and waits until the page has finished the work it started; its state."""
    before = finished(driver)
    action()
    WebDriverWait(driver, WAIT).until(lambda d: finished(d) > before)
    return driver.find_element(By.TAG_NAME, "body").get_attribute("data-state")


def wait_download(directory, name):
    path = os.path.join(directory, name)
    deadline = time.time() + WAIT
    while time.time() < deadline:
        if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
            time.sleep(0.2)
            return path
        time.sleep(0.1)
    raise RuntimeError("no download " + name + " in " + str(os.listdir(directory)))


def set_value(driver, element_id, value):
    element = driver.find_element(By.ID, element_id)
    element.clear()
    element.send_keys(str(value))


def read(path):
    with open(path, "rb") as file:
        return file.read()


def encode_through_page(driver, scratch, downloads):
    source = os.path.join(scratch, "music.wav")
    shutil.copyfile(os.path.join(ROOT, "samples", "music.wav"), source)
    check(act(driver, lambda: driver.find_element(By.ID, "file").send_keys(source)) == "idle",
          "the WAV file opens")
    info = driver.find_element(By.ID, "input-info").text
    check("1 channel at 22050 Hz" in info, "the page shows the WAV file's layout: " + info)
    check(driver.find_element(By.ID, "channels").get_attribute("value") == "1" and
          driver.find_element(By.ID, "sample-rate").get_attribute("value") == "22050",
          "the header's channels and rate come from the input")
    set_value(driver, "percents", "30")
    driver.find_element(By.ID, "high-quality").click()
    set_value(driver, "levels", "6")
    set_value(driver, "subblocks", "20")
    Select(driver.find_element(By.ID, "filter")).select_by_value("O")
    set_value(driver, "filter-length", "17")
    check(act(driver, driver.find_element(By.ID, "encode").click) == "encoded",
          "the encode finishes")

    command = shlex.split(driver.find_element(By.ID, "command").text)
    check(command[:3] == ["vellox", "music.wav", "music.acm"],
          "the command line names the files: " + " ".join(command))
    expected = os.path.join(scratch, "expected.acm")
    velloxed = run("vellox", source, expected, *command[3:])
    driver.find_element(By.ID, "download-acm").click()
    downloaded = wait_download(downloads, "music.acm")
    check(read(downloaded) == read(expected),
          "the downloaded ACM file is vellox's for " + " ".join(command[3:]))

    compared = run("velloxdec", expected, "--compare", source)
    lines = velloxed[velloxed.index("#\n") + 2:] + compared[compared.index("SNR: "):]
    report = driver.find_element(By.ID, "report").text
    check(report.strip() == lines.strip(),
          "the report is vellox's and velloxdec --compare's lines:\n" + report)

    driver.find_element(By.ID, "play-both").click()
    WebDriverWait(driver, WAIT).until(
        lambda d: d.find_element(By.ID, "playing").text or d.find_element(By.ID, "error").text)
    check(driver.find_element(By.ID, "playing").text == "Playing the original" and
          not driver.find_element(By.ID, "error").text, "the original plays, then the result")
    driver.find_element(By.ID, "stop").click()

    os.makedirs(os.path.dirname(SCREENSHOT), exist_ok=True)
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(1100, height + 120)
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(SCREENSHOT)
    check(os.path.getsize(SCREENSHOT) > 0, "a screenshot after the encode: " + SCREENSHOT)

    # The filter taps of a -fc file.
    taps = os.path.join(scratch, "taps.txt")
    with open(taps, "w") as file:
        file.write("4\n0.02 -0.1 0.3 0.55\n")
    Select(driver.find_element(By.ID, "filter")).select_by_value("C")
    driver.find_element(By.ID, "taps-file").send_keys(taps)
    os.remove(downloaded)
    check(act(driver, driver.find_element(By.ID, "encode").click) == "encoded",
          "the encode with a taps file finishes")
    options = shlex.split(driver.find_element(By.ID, "command").text)[3:]
    check(options[options.index("-fc") + 1] == "taps.txt", "the command line names the taps")
    options[options.index("-fc") + 1] = taps
    run("vellox", source, expected, *options)
    driver.find_element(By.ID, "download-acm").click()
    check(read(wait_download(downloads, "music.acm")) == read(expected),
          "and its ACM file is vellox's for " + " ".join(options))


def decode_through_page(driver, scratch, downloads):
    source = os.path.join(scratch, "tones.wav")
    write_wav(source, 2, 44100, 2 * 44100 + 1)
    acm = os.path.join(scratch, "tones.acm")
    run("vellox", source, acm, "-c", "2", "-r", "44100", "-q", "20")
    expected = os.path.join(scratch, "expected.wav")
    run("velloxdec", acm, expected)
    check(act(driver, lambda: driver.find_element(By.ID, "file").send_keys(acm)) == "decoded",
          "the ACM file decodes")
    check(driver.find_element(By.ID, "play-channels").get_attribute("value") == "2" and
          driver.find_element(By.ID, "play-rate").get_attribute("value") == "44100",
          "it plays at the header's channels and rate")
    driver.find_element(By.ID, "download-wav").click()
    downloaded = wait_download(downloads, "tones.wav")
    check(read(downloaded) == read(expected), "the downloaded WAV file is velloxdec's")

    # Another layout, picked by the user: velloxdec -c 3 -r 8000.
    os.remove(downloaded)
    set_value(driver, "play-channels", "3")
    set_value(driver, "play-rate", "8000")
    run("velloxdec", acm, expected, "-c", "3", "-r", "8000")
    driver.find_element(By.ID, "download-wav").click()
    downloaded = wait_download(downloads, "tones.wav")
    check(read(downloaded) == read(expected), "and velloxdec's in the layout the user picks")


def refuse_other_formats(driver, scratch):
    other = os.path.join(scratch, "song.flac")
    with open(other, "wb") as file:
        file.write(b"fLaC" + bytes(200))
    check(act(driver, lambda: driver.find_element(By.ID, "file").send_keys(other)) == "failed",
          "another format is refused")
    text = driver.find_element(By.ID, "error").text
    check("command line" in text, "with a word on where it belongs: " + text)
    # A header that announces 2^31 - 1 samples in a few bytes is velloxdec's to decode.
    huge = os.path.join(scratch, "huge.acm")
    with open(huge, "wb") as file:
        file.write(bytes([0x97, 0x28, 3, 1, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0x44, 0xAC, 7, 1]))
    check(act(driver, lambda: driver.find_element(By.ID, "file").send_keys(huge)) == "failed",
          "an ACM file too long for the page is refused: " +
          driver.find_element(By.ID, "error").text)


def requests_stay_home(driver, server):
    origin = "http://127.0.0.1:%d" % server.server_address[1]
    foreign = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] != "Network.requestWillBeSent":
            continue
        url = message["params"]["request"]["url"]
        document = message["params"].get("documentURL", "")
        # The browser's own pages (the first empty tab) are not the page's doing; any request
        # over the network is.
        ours = document.startswith(origin + "/")
        network = url.startswith(("http:", "https:", "ws:", "wss:"))
        if (ours or network) and not url.startswith((origin + "/", "data:", "blob:")):
            foreign.append(url)
    check(not foreign, "the browser asked for nothing elsewhere: " + ", ".join(foreign))
    paths = {path.split("?")[0] for path in server.paths}
    check(paths <= PAGE_FILES, "the server was asked only for the page's files: " +
          ", ".join(sorted(paths)))


def main():
    server = Server()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    scratch = tempfile.mkdtemp(prefix="vellox-browser-")
    downloads = os.path.join(scratch, "downloads")
    os.makedirs(downloads)
    driver = start_browser(downloads, os.path.join(scratch, "profile"))
    try:
        check(act(driver, lambda: driver.get("http://127.0.0.1:%d/" % server.server_address[1]))
              == "idle", "the page loads")
        WebDriverWait(driver, WAIT).until(lambda d: d.find_element(By.ID, "version").text)
        check(driver.find_element(By.ID, "version").text ==
              run("vellox", "--version").split()[1], "the module's version is vellox's")
        encode_through_page(driver, scratch, downloads)
        decode_through_page(driver, scratch, downloads)
        refuse_other_formats(driver, scratch)
        requests_stay_home(driver, server)
        errors = [entry["message"] for entry in driver.get_log("browser")
                  if entry["level"] == "SEVERE"]
        check(not errors, "no errors in the console: " + "; ".join(errors))
    finally:
        driver.quit()
        server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)
    print("browser test: %d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
