// The toolkit's sources are added beside this file.
