// Planted under the utility's name where it must never be started: ends
// with 7, which the utility never does.
int main() { return 7; }
