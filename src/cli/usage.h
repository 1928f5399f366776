#pragma once
// The usage text, printed for "help", "-h", no command word, and after an
// unrecognised one.
#include <string_view>

inline constexpr std::string_view usage_text = R"(vistrel — eyes for an AI agent

  vistrel snap [--out FILE]     take a photo (default: vistrel.jpg)
  vistrel look [--out FILE]     focus, then snap — the one-shot for agents
  vistrel focus                 sweep the lens, lock the sharpest
  vistrel screenshot [--out F]  capture the whole screen (default: screen.jpg)
  vistrel record [--secs N]     record the screen (default 5s, webm)
  vistrel devices               every eye: cameras, the screen, phones
  vistrel controls              every knob, with its range
  vistrel set NAME VALUE        set one control (focus, zoom, exposure …)
  vistrel add-source NAME URL   register a phone / IP camera
  vistrel sources               list registered phone / IP cameras
  vistrel forget-source NAME    remove one
  vistrel status                is the app running, and what is it set to

Any camera command takes --device: a webcam id, `screen`, or `net:<name>` for a
registered phone. So `vistrel snap --device screen` and `vistrel snap --device
net:phone` both work.

Options
  --device ID     which eye (a camera id, `screen`, or `net:<name>`)
  --out FILE      where to write the image or video
  --secs N        recording length for `record` (max 120)
  --format FMT    recording container: webm (default) or mp4
  --size WxH      capture size, e.g. --size 1280x720
  --json          machine-readable output
  --port N        the app's port (default 7777, or VISTREL_PORT)

The Vistrel app must be running. Start it from your applications menu, or
`vistrel-app &`.
)";
