# Workflow suites: the sharded pair search through snakemake on this machine,
# and through a private one-node Slurm cluster that the test starts and stops.
# The workflow runs synergy; each compares the joined results with one whole
# pair_search run and skips
# (exit 77) when snakemake, Slurm or munge is not installed.
if(TARGET probe_rank AND TARGET pair_search AND TARGET pair_signif AND TARGET pair_report AND TARGET synergy
   AND NOT SYN_NESTED)
  foreach(suite local slurm)
    add_test(NAME workflow_${suite}
      COMMAND bash ${PROJECT_SOURCE_DIR}/workflow/test/${suite}_test.sh
        $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
        $<TARGET_FILE:pair_signif> $<TARGET_FILE:pair_report> $<TARGET_FILE:synergy>)
    set_tests_properties(workflow_${suite} PROPERTIES
      SKIP_RETURN_CODE 77
      LABELS workflow
      PROCESSORS 2)
  endforeach()
  set_tests_properties(workflow_local PROPERTIES TIMEOUT 300)
  # Starts daemons and fills both cores: alone, never beside other tests.
  set_tests_properties(workflow_slurm PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()
