// Placeholder for a library folder without sources yet.
