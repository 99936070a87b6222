// Placeholder start; replaced by the application shell.
int main() { return 0; }
