# Start-up: an empty script
