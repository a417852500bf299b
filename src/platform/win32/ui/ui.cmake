# The Windows user interface (dialog, WebBrowser control, message boxes) and
# the Launcher.exe executable with its resources.
