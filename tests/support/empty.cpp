// Keeps the support library non-empty while builders are added.
