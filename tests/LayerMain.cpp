// The program of the layer checks: each links one subsystem whole with only
// the subsystems below it, so that a call into any other fails to link.
int main() { return 0; }
