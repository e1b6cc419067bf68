// The start-up floor for a Windows program under Wine: does nothing, built with the handler's
// toolchain and flags.
int main() { return 0; }
