// Linked with every object file of the engine (glimmerhold_engine,
// glimmerhold_os, glimmerhold_text) and no user interface: the link fails if
// any of them calls the window, the browser, a message box or the desktop
// opener.
int main() { return 0; }
