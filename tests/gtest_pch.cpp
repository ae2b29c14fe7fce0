// The object whose build makes the test programs' precompiled GoogleTest header.
