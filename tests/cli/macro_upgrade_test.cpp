// Filled in by the upgrade work.
