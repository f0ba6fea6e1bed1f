Before { }
After { }
AfterStep { }
