import subprocess, sys
sys.exit(subprocess.call(sys.argv[sys.argv.index("--")+1:]))
