// The help of the commands that read screens. Both programs of the command line list them; only
// vistrel-cli-record runs them.
#include "Vistrel/cli/Commands.h"

namespace vistrel::cli {

extern const std::string_view ingestHelp =
    "Usage: vistrel-cli ingest [--app NAME] [--bundle-id ID] [--title TEXT] [--at UNIXSECONDS]\n"
    "                          IMAGE...\n"
    "\n"
    "Records each PNG or JPEG image as if it had been captured, in the order given: the change\n"
    "test against the previous image, scaling to the settings' maxWidth, text recognition and\n"
    "the store. Creates the history (and its key) when there is none.\n"
    "\n"
    "  --app NAME        the application name stored with every frame (default: Desktop)\n"
    "  --bundle-id ID    its application ID (default: none)\n"
    "  --title TEXT      the window title (default: none)\n"
    "  --at UNIXSECONDS  capture time of the first image; image i is dated i seconds later\n"
    "                    (default: now)\n"
    "\n"
    "Prints one line per image. With --json: {\"file\", \"outcome\": \"stored\"|\"unchanged\"|\n"
    "\"failed\", \"id\", \"lines\", \"message\"}, absent fields left out. An image that cannot be\n"
    "read fails on its own and the others go on; the exit status is then 1.\n";

extern const std::string_view captureHelp =
    "Usage: vistrel-cli capture [--ticks N]\n"
    "\n"
    "Captures the screen as the application does, with capture turned on for this run only:\n"
    "N ticks (default 1) back to back at the settings' interval (2 to 60 seconds), every check\n"
    "of the capture loop included. Creates the history (and its key) when there is none.\n"
    "config.json is left as it is, and the pause shortcut is not taken.\n"
    "\n"
    "Prints each tick's outcome (the reason nothing was saved, \"Stored frame ID (N lines)\",\n"
    "\"Unchanged\" or the failure) and the status line after it. With --json: one line per tick,\n"
    "{\"tick\", \"outcome\": \"skipped\"|\"captureFailed\"|\"stored\"|\"unchanged\"|\"failed\",\n"
    "\"id\", \"lines\", \"message\", \"status\"}, absent fields left out.\n";

}  // namespace vistrel::cli
